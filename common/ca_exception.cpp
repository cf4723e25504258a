#include "common/ca_exception.h"

void RaiseCAException(std::int32_t code, const char* file, const char* date, std::int32_t line) {
    throw CAException(code, file ? file : "", date ? date : "", line);
}
