// The resources as the shipped Alarm.exe carries them.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "alarm_ui/resource.h"
#include "ui_driver.h"
#include "window/resource_string.h"

namespace {

std::wstring AlarmExe() {
    return ui::WindowsPath(ALARM_EXE);
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(module, nullptr); }
    void TearDown() override { ::FreeLibrary(module); }

    std::pair<const BYTE*, DWORD> Resource(const wchar_t* type, UINT id) const {
        const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
        if (!found) {
            return {nullptr, 0};
        }
        return {static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))),
                ::SizeofResource(module, found)};
    }

    HMODULE module = ::LoadLibraryExW(AlarmExe().c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
};

TEST_F(ResourcesTest, StringTableHoldsTheTextsByteForByte) {
    const std::map<UINT, std::wstring> texts = {
        {129, L"Пароль и его подтверждение не совпадают."},
        {130, L"Задайте пароль."},
        {131, L"Задайте имя или адрес сервера."},
        {132, L"Удалить сервер из списка?"},
        {133, L"Сервер"},
        {134, L"Состояние"},
        {135, L"Ошибка доступа:\n%s(%#x)\n\nСохранить изменения?"},
        {136, L"Сервер '%s' уже присутствует в списке."},
        {139, L"Отклик получен"},
        {141, L"Отклик получен(от сервиса) "},
        {142, L"Функция '%s' завершилась с ошибкой '%s'(%#x)"},
        {144, L"Не могу найти порт '%s'"},
        {146, L"Порт"},
        {147, L"Не могу сохранить информацию о сервере.\nОшибка:%s(%#x)"},
        {148, L"Не могу создать COM объект '%s'.\n"},
        {149, L"Задайте порт."},
        {150, L"Порт %s не удалось открыть при проверке. Всё равно назначить его красной кнопке?"},
        {151, L"Изменять настройки могут только администраторы. Перезапустить программу с правами "
              L"администратора?"},
        {152, L"Задан политикой организации"},
        {205, L"сигнал «тревога»"},
        {206, L"Потеряна связь с сервером:"},
        {207, L"Потеряна связь с серверами:"},
        {208, L"Ошибка инициализации приложения."},
        {209, L"Значение поля 'Порт' должно находится в диапазоне от 1 до 65535."}};
    for (const auto& [id, text] : texts) {
        EXPECT_EQ(KRVN::LoadResourceString(module, id), text) << id;
    }
}

TEST_F(ResourcesTest, IconsComeInTheirSizesAndColourDepths) {
    using Entries = std::vector<std::pair<int, int>>; // size, bits per pixel
    // The small-icon size at 100, 125, 150 and 200 %, each drawn, none scaled.
    const Entries trayIcon = {{16, 8}, {20, 8}, {24, 8}, {32, 8}};
    const Entries listIcon = {{16, 8},  {20, 8},  {24, 8},  {32, 8},
                              {16, 32}, {20, 32}, {24, 32}, {32, 32}};
    const std::map<UINT, Entries> icons = {
        {128, {{48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 32}, {16, 32}}},
        {1014, listIcon},
        {1015, listIcon},
        {201, trayIcon},
        {202, trayIcon},
        {203, trayIcon},
        {205, trayIcon},
        {32514, trayIcon}};
    for (const auto& [id, expected] : icons) {
        const auto [group, size] = Resource(RT_GROUP_ICON, id);
        ASSERT_NE(group, nullptr) << id;
        WORD count = 0;
        std::memcpy(&count, group + 4, 2);
        Entries entries;
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = group + 6 + 14 * i; // GRPICONDIRENTRY
            WORD bits = 0;
            std::memcpy(&bits, entry + 6, 2);
            entries.emplace_back(entry[0] == 0 ? 256 : entry[0], bits);
        }
        EXPECT_EQ(entries, expected) << id;
    }
}

TEST_F(ResourcesTest, TrayMenuOffersItsThreeCommands) {
    const HMENU menu = ::LoadMenuW(module, MAKEINTRESOURCEW(IDR_TRAY_MENU));
    ASSERT_NE(menu, nullptr);
    const HMENU popup = ::GetSubMenu(menu, 0);
    ASSERT_EQ(::GetMenuItemCount(popup), 5);
    const std::pair<UINT, std::wstring> items[] = {{32780, L"&Подать сигнал «тревога»"},
                                                   {0, L""},
                                                   {32777, L"&Настройки"},
                                                   {0, L""},
                                                   {32779, L"&Выйти"}};
    for (int i = 0; i < 5; ++i) {
        wchar_t text[64] = {};
        ::GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
        EXPECT_EQ(::GetMenuItemID(popup, i), items[i].first == 0 ? 0 : items[i].first);
        EXPECT_EQ(text, items[i].second);
    }
    ::DestroyMenu(menu);
}

TEST_F(ResourcesTest, VersionAndManifest) {
    DWORD ignored = 0;
    std::vector<BYTE> info(::GetFileVersionInfoSizeW(AlarmExe().c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(
        ::GetFileVersionInfoW(AlarmExe().c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00040002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010010u);
    const std::pair<const wchar_t*, const wchar_t*> values[] = {
        {L"FileDescription", L"Alarm Module"},
        {L"InternalName", L"Alarm"},
        {L"OriginalFilename", L"Alarm.exe"}};
    for (const auto& [name, value] : values) {
        wchar_t* text = nullptr;
        ASSERT_TRUE(::VerQueryValueW(info.data(),
                                     (std::wstring(L"\\StringFileInfo\\041904b0\\") + name).c_str(),
                                     reinterpret_cast<void**>(&text), &length))
            << name;
        EXPECT_STREQ(text, value);
    }

    const auto [manifest, size] = Resource(RT_MANIFEST, 1);
    ASSERT_NE(manifest, nullptr);
    const std::string text(reinterpret_cast<const char*>(manifest), size);
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    // Per-monitor DPI awareness, in the namespaces that define each setting.
    EXPECT_NE(text.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                        "WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/"
                        "WindowsSettings\">true/pm</dpiAware>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<asmv3:windowsSettings>"), std::string::npos) << text;
    EXPECT_NE(text.find("xmlns:asmv3=\"urn:schemas-microsoft-com:asm.v3\""), std::string::npos)
        << text;
}

// One control of a dialog template.
struct Control {
    int id;
    std::wstring className;
    std::wstring text;
    short x, y, cx, cy;
    DWORD style;
};

struct Template {
    DWORD style = 0;
    std::wstring title, font;
    WORD pointSize = 0;
    std::vector<Control> controls;
};

// Reads a DLGTEMPLATEEX (the resource compiler writes DIALOGEX that way).
Template Parse(const BYTE* data) {
    const auto* words = reinterpret_cast<const WORD*>(data);
    const auto take = [&](auto& value) {
        std::memcpy(&value, words, sizeof(value));
        words += sizeof(value) / 2;
    };
    // A string, an ordinal (0xFFFF, n) or nothing (0).
    const auto text = [&]() -> std::wstring {
        if (*words == 0xFFFF) {
            const WORD ordinal = words[1];
            words += 2;
            const wchar_t* classes[] = {L"Button",  L"Edit",      L"Static",
                                        L"ListBox", L"ScrollBar", L"ComboBox"};
            return ordinal >= 0x80 && ordinal <= 0x85 ? classes[ordinal - 0x80]
                                                      : L"#" + std::to_wstring(ordinal);
        }
        std::wstring value(reinterpret_cast<const wchar_t*>(words));
        words += value.size() + 1;
        return value;
    };
    Template result;
    DWORD helpId, exStyle;
    WORD version, signature, count, weight, italicCharset;
    short x, y, cx, cy;
    take(version), take(signature), take(helpId), take(exStyle), take(result.style);
    take(count), take(x), take(y), take(cx), take(cy);
    text(), text();
    result.title = text();
    take(result.pointSize), take(weight), take(italicCharset);
    result.font = text();
    for (WORD i = 0; i < count; ++i) {
        words = reinterpret_cast<const WORD*>((reinterpret_cast<uintptr_t>(words) + 3) &
                                              ~static_cast<uintptr_t>(3));
        Control control;
        DWORD id;
        take(helpId), take(exStyle), take(control.style);
        take(control.x), take(control.y), take(control.cx), take(control.cy), take(id);
        control.id = static_cast<int>(id);
        control.className = text();
        control.text = text();
        WORD extra;
        take(extra);
        words += (extra + 1) / 2;
        result.controls.push_back(control);
    }
    return result;
}

TEST_F(ResourcesTest, DialogsHaveTheirLayoutInDialogUnits) {
    struct Expected {
        UINT dialog;
        int id;
        const wchar_t* className;
        const wchar_t* text;
        short x, y, cx, cy;
        DWORD style; // bits that must be set
        bool hidden = false;
    };
    const Expected expected[] = {
        {201, -1, L"Button", L"С&ерверы сигнала \"тревога\"", 7, 3, 293, 101, BS_GROUPBOX},
        {201, 1000, L"SysListView32", L"", 12, 14, 214, 85,
         LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SORTASCENDING | WS_BORDER |
             WS_TABSTOP},
        {201, 1004, L"Button", L"&Добавить...", 230, 14, 65, 14, 0},
        {201, 1005, L"Button", L"&Удалить...", 230, 32, 65, 14, 0},
        {201, 1007, L"Button", L"&Редактировать...", 230, 50, 65, 14, 0, true},
        {201, -1, L"Button", L"Порт \"красной кнопки\"", 6, 104, 115, 33, BS_GROUPBOX},
        {201, 1017, L"Edit", L"", 12, 115, 48, 15, ES_READONLY},
        {201, 1010, L"Button", L"&Изменить...", 66, 115, 50, 15, 0},
        {201, 1018, L"Static", L"", 126, 118, 112, 18, SS_NOPREFIX},
        {201, 1, L"Button", L"&Закрыть", 242, 124, 58, 14, BS_DEFPUSHBUTTON},
        {202, 1013, L"Static", L"", 7, 7, 73, 8, 0, true},
        {202, -1, L"Static", L"&Адрес сервера:", 11, 20, 54, 8, 0},
        {202, 1007, L"Edit", L"", 72, 17, 98, 14, ES_AUTOHSCROLL},
        {202, -1, L"Static", L"&Пароль:", 37, 41, 28, 8, 0},
        {202, 1008, L"Edit", L"", 72, 38, 98, 14, ES_PASSWORD},
        {202, -1, L"Static", L"По&дтверждение:", 8, 61, 57, 8, 0},
        {202, 1009, L"Edit", L"", 72, 58, 98, 14, ES_PASSWORD},
        {202, -1, L"Static", L"Пор&т:", 42, 81, 23, 12, SS_RIGHT},
        {202, 1017, L"Edit", L"", 72, 78, 98, 14, ES_NUMBER},
        {202, -1, L"Button", L"Т&ип соединения", 7, 104, 174, 45, BS_GROUPBOX},
        {202, 1002, L"Button", L"А&вторизованное (RPC, named pipes )", 12, 117, 158, 10,
         BS_AUTORADIOBUTTON | WS_GROUP},
        {202, 1003, L"Button", L"A&нонимное (Socket, TCP/IP)", 12, 132, 162, 10,
         BS_AUTORADIOBUTTON},
        {202, 1, L"Button", L"&Сохранить", 37, 163, 50, 14, BS_DEFPUSHBUTTON},
        {202, 2, L"Button", L"&Отмена", 103, 163, 50, 14, 0},
        {207, -1, L"Static", L"&Выбирете COM порт для подключения \"красной кнопки\" :", 7, 12, 201,
         12, 0},
        {207, 1000, L"ComboBox", L"", 209, 10, 43, 56, CBS_DROPDOWN | WS_VSCROLL},
        {207, -1, L"Button", L"", 7, 30, 270, 127, BS_GROUPBOX},
        {207, -1, L"Static",
         L"Нажмите на \"красную кнопку\". Отклик должен появиться в окне расположеном ниже этого "
         L"приглашения.",
         14, 38, 204, 17, 0},
        {207, 1019, L"Button", L"О&чистить", 229, 41, 43, 15, 0},
        {207, 1016, L"ListBox", L"", 11, 60, 261, 92,
         LBS_NOSEL | WS_VSCROLL | WS_HSCROLL | WS_BORDER},
        {207, -1, L"Static", L"Alarm сервису назначен COM порт:", 7, 164, 119, 10, 0},
        {207, 1018, L"Edit", L"", 129, 161, 45, 15, WS_DISABLED},
        {207, 2, L"Button", L"&Отменить", 227, 164, 50, 14, 0},
        {207, 1, L"Button", L"&Применить", 227, 184, 50, 14, BS_DEFPUSHBUTTON},
    };
    std::map<UINT, Template> templates;
    for (const UINT dialog : {201u, 202u, 207u}) {
        const auto [data, size] = Resource(RT_DIALOG, dialog);
        ASSERT_NE(data, nullptr) << dialog;
        templates[dialog] = Parse(data);
        EXPECT_EQ(templates[dialog].font, L"MS Shell Dlg");
        EXPECT_EQ(templates[dialog].pointSize, 8);
    }
    EXPECT_EQ(templates[201].title, L"Quendor Alarm");
    EXPECT_EQ(templates[201].style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(templates[202].title, L"Свойства сервера");
    EXPECT_EQ(templates[207].title, L"Проверка отклика от \"красной кнопки\"");

    std::map<UINT, size_t> next;
    for (const Expected& control : expected) {
        const auto& controls = templates[control.dialog].controls;
        size_t& index = next[control.dialog];
        // Unnamed labels are matched by their place among the controls.
        while (index < controls.size() && control.id != -1 && controls[index].id != control.id) {
            ++index;
        }
        while (index < controls.size() && control.id == -1 &&
               (controls[index].id != -1 && controls[index].id != 0xFFFF)) {
            ++index;
        }
        ASSERT_LT(index, controls.size()) << control.dialog << " " << control.id;
        const Control& found = controls[index++];
        const std::string where = std::to_string(control.dialog) + "/" + std::to_string(control.id);
        // Class names are not case-sensitive (the resource compiler writes them in capitals).
        EXPECT_EQ(::lstrcmpiW(found.className.c_str(), control.className), 0) << where;
        EXPECT_EQ(found.text, control.text) << where;
        EXPECT_EQ(found.x, control.x) << where;
        EXPECT_EQ(found.y, control.y) << where;
        EXPECT_EQ(found.cx, control.cx) << where;
        EXPECT_EQ(found.cy, control.cy) << where;
        EXPECT_EQ(found.style & control.style, control.style) << where;
        EXPECT_EQ((found.style & WS_VISIBLE) == 0, control.hidden) << where;
    }
    // The port list keeps the program's order (a sorting combo box would
    // put COM12 before COM2).
    for (const Control& control : templates[207].controls) {
        if (control.id == IDC_CHECK_PORTS) {
            EXPECT_EQ(control.style & CBS_SORT, 0u);
        }
    }
    EXPECT_EQ(templates[201].controls.size(), 10u);
    EXPECT_EQ(templates[202].controls.size(), 14u);
    EXPECT_EQ(templates[207].controls.size(), 10u);
}

} // namespace
