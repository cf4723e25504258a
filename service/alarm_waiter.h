#pragma once
// Base of the red-button port watcher: a worker thread with a stop event and
// nothing more. Kept apart so that other kinds of alarm source can share it.

#include "common/smart_thread.h"

class AlarmWaiter : public CEventThread<CRuntimeThreadCreator> {};
