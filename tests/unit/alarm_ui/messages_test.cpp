#include <gtest/gtest.h>

#include "alarm_ui/error_text.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/resource.h"
#include "ui_driver.h"

namespace {

TEST(ErrorTextTest, SystemTextWithoutLineEndOrTheCodeInDecimal) {
    const std::wstring denied = ErrorText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(denied.empty());
    EXPECT_EQ(denied.find_first_of(L"\r\n"), std::wstring::npos);
    EXPECT_EQ(denied.back(), L'.');
    EXPECT_EQ(ErrorText(0x20001234u), L"error code=536875572");
    // A failure code prints above 2147483647, not as a negative number.
    EXPECT_EQ(ErrorText(0xA0001234u), L"error code=2684359220");
}

// Shows a box on this thread and returns its text as the user saw it.
std::wstring Shown(const std::function<int()>& show, int button, int* pressed = nullptr) {
    std::wstring text;
    ui::RunModal([&](DWORD thread) { text = ui::Answer(thread, button); },
                 [&] {
                     const int result = show();
                     if (pressed) {
                         *pressed = result;
                     }
                 });
    return text;
}

TEST(MessageBoxesTest, TextsAreFilledAsTheProgramShowsThem) {
    EXPECT_EQ(
        Shown([] { return ShowCallError(nullptr, L"Call()", E_ACCESSDENIED, MB_ICONERROR); }, IDOK),
        L"Call()Ошибка : " + ErrorText(E_ACCESSDENIED) + L"(0x80070005)");
    EXPECT_EQ(Shown([] { return ShowCallError(nullptr, L"", 5, MB_ICONERROR); }, IDOK),
              L"Ошибка : " + ErrorText(5) + L"(0x5)");
    EXPECT_EQ(Shown([] { return ShowCallError(nullptr, L"X", 0xA0001234, MB_ICONERROR); }, IDOK),
              L"XОшибка : error code=2684359220(0xa0001234)");
    EXPECT_EQ(Shown([] { return ShowCodeBox(nullptr, IDS_INIT_FAILED, 5, MB_ICONERROR); }, IDOK),
              L"Ошибка инициализации приложения.");
    EXPECT_EQ(
        Shown([] { return ShowCodeBox(nullptr, IDS_CANNOT_SAVE_SERVER, 5, MB_ICONERROR); }, IDOK),
        L"Не могу сохранить информацию о сервере.\nОшибка:" + ErrorText(5) + L"(0x5)");
    int pressed = 0;
    EXPECT_EQ(Shown([] { return ShowStringBox(nullptr, IDS_CONFIRM_DELETE, 0, MB_YESNO); }, IDNO,
                    &pressed),
              L"Удалить сервер из списка?");
    EXPECT_EQ(pressed, IDNO);
}

} // namespace
