#include "properties_dialog.h"

#include <objbase.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "about_dialog.h"
#include "cache_client.h"
#include "crash_reporter.h"
#include "gdi_scope.h"
#include "html_help.h"
#include "program_paths.h"
#include "resource.h"
#include "unique_handle.h"
#include "window_position.h"

namespace tvn {
namespace {

namespace Store = SettingsStore;

constexpr COLORREF kDialogBackground = RGB(148, 176, 224);

// The combo boxes and their lists in the string table.
struct ComboList {
    int control;
    UINT firstString;
    int count;
};
constexpr ComboList kComboLists[] = {
    {IDC_VIEW_STYLE, IDS_VIEW_STYLE_FIRST, 4},
    {IDC_SIZE_UNITS, IDS_SIZE_UNITS_FIRST, 5},
    {IDC_DIGIT_GROUPING, IDS_DIGIT_GROUPING_FIRST, 6},
    {IDC_DECIMAL_DIGITS, IDS_DECIMAL_DIGITS_FIRST, 6},
    {IDC_BAR_STYLE, IDS_BAR_STYLE_FIRST, 3},
    {IDC_BAR_SYMBOL, IDS_BAR_SYMBOL_FIRST, 5},
};

// Texts read back from the dialog: at most this many characters and the zero.
constexpr int kTextUnits = 260;
// The one-character fields are read with a small buffer: only "longer than one" matters.
constexpr int kShortTextUnits = 32;

// Commands of the Menu button's popup.
constexpr UINT kHelpIndexCommand = ID_HELP_HELP;
// Posted by the system when F1 is pressed (not in the headers).
constexpr UINT kKeyF1 = 0x004D;
constexpr UINT kAboutCommand = ID_HELP_ABOUT;

// Initialises COM on the thread for one call into the cache server; uninitialises only what
// it initialised.
class ComScope {
  public:
    ComScope() noexcept : hr_(CoInitialize(nullptr)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const noexcept { return SUCCEEDED(hr_); }

  private:
    HRESULT hr_;
};

}  // namespace

PropertiesDialog::PropertiesDialog(HINSTANCE instance) noexcept
    : instance_(instance), configMessage_(Store::RegisterConfigUpdateMessage()) {}

PropertiesDialog::~PropertiesDialog() {
    if (hooked_) {
        if (MessageLoop* loop = MessageLoop::Current()) {
            loop->RemoveFilter(this);
            loop->RemoveIdleHandler(this);
        }
    }
    if (window_ != nullptr && IsWindow(window_)) {
        DestroyWindow(window_);
    }
}

HWND PropertiesDialog::Create() noexcept {
    HWND window = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_PROPERTIES), nullptr,
                                     Procedure, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        window_ = nullptr;
    }
    return window;
}

INT_PTR CALLBACK PropertiesDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<PropertiesDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<PropertiesDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr || self->window_ != window) {
        return FALSE;
    }
    return self->Handle(message, wParam, lParam);
}

bool PropertiesDialog::PreTranslateMessage(MSG& message) {
    if (window_ == nullptr) {
        return false;
    }
    const bool inDialog = message.hwnd == window_ || IsChild(window_, message.hwnd);
    // F1 anywhere in the dialog asks for its help topic, whether or not the system would
    // make WM_HELP of the key itself (the key is taken here, so it is never asked twice).
    if (inDialog && message.message == WM_KEYDOWN && message.wParam == VK_F1) {
        HELPINFO info{};
        info.cbSize = sizeof(info);
        info.iContextType = HELPINFO_WINDOW;
        info.iCtrlId = GetDlgCtrlID(message.hwnd);
        info.hItemHandle = message.hwnd;
        GetCursorPos(&info.MousePos);
        SendMessageW(window_, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        return true;
    }
    // A key pressed for real also gets a WM_KEYF1 posted by the system, which the default
    // handling turns into a second WM_HELP: the key down above has asked already.
    if (inDialog && message.message == kKeyF1) {
        return true;
    }
    return IsDialogMessageW(window_, &message) != FALSE;
}

INT_PTR PropertiesDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_INITDIALOG:
            Initialise();
            return TRUE;
        case WM_MEASUREITEM: {
            auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (measure != nullptr && measure->CtlType == ODT_MENU) {
                menu_.MeasureItem(measure);
                return TRUE;
            }
            break;
        }
        case WM_DRAWITEM: {
            auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (draw != nullptr && draw->CtlType == ODT_MENU) {
                menu_.DrawItem(draw);
                return TRUE;
            }
            break;
        }
        case WM_MENUCHAR:
            // Mnemonics of the owner-drawn items.
            if (LRESULT result = menu_.MenuChar(wParam, lParam)) {
                SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
                return TRUE;
            }
            break;
        case WM_HELP:
            Help(true);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (id == IDC_ENABLE_CACHE && code == BN_CLICKED) {
                EnableCacheClicked();
                return TRUE;
            }
            if (id == IDC_MENU_BUTTON && code == BN_CLICKED) {
                ShowMenu();
                return TRUE;
            }
            if (id == IDC_RESET_CACHE && code == BN_CLICKED) {
                ResetCache();
                return TRUE;
            }
            if ((id == IDC_DIGIT_GROUPING || id == IDC_BAR_SYMBOL) && code == CBN_EDITCHANGE) {
                KeepOneCharacter(id);
                return TRUE;
            }
            if (id == IDC_CACHE_ALL && code == BN_CLICKED) {
                CacheAllClicked();
                return TRUE;
            }
            if (id == IDCANCEL) {
                Close(2);
                return TRUE;
            }
            if (id == IDOK) {
                Save();
                Close(1);
                return TRUE;
            }
            break;
        }
        default:
            if (configMessage_ != 0 && message == configMessage_) {
                Load();
                return TRUE;
            }
            break;
    }
    ColorAnswer answer = colors_.HandleMessage(message, wParam, lParam);
    if (answer.handled) {
        return reinterpret_cast<INT_PTR>(answer.brush);
    }
    return FALSE;
}

void PropertiesDialog::Initialise() noexcept {
    CrashReporter::SetOwnerWindow(window_);
    SetWindowTextW(window_, kPropertiesWindowTitle);

    HICON large = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TOLVANE),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                GetSystemMetrics(SM_CYICON), LR_SHARED));
    HICON small = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TOLVANE),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

    if (MessageLoop* loop = MessageLoop::Current()) {
        loop->AddFilter(this);
        loop->AddIdleHandler(this);
        hooked_ = true;
    }

    static constexpr int kSectionTitles[] = {IDC_TITLE_SIZE_SECTION, IDC_TITLE_BAR_SECTION,
                                             IDC_TITLE_GLOBAL_SECTION};
    UniqueFont bold = BoldCopyOf(reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0)));
    colors_.AddGroup(window_, ControlColorMap::kDefaultGroup, nullptr, 0, RGB(0, 0, 0),
                     kDialogBackground, UniqueFont());
    // The titles also draw with the font themselves: a static control may select its own
    // font after asking for its colours. The group owns the font for the dialog's life.
    HFONT boldFont = bold.get();
    if (colors_.AddGroup(window_, L"list1", kSectionTitles, std::size(kSectionTitles), RGB(0, 0, 0),
                         kDialogBackground, std::move(bold)) == 0 &&
        boldFont != nullptr) {
        for (int id : kSectionTitles) {
            SendDlgItemMessageW(window_, id, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont), FALSE);
        }
    }
    colors_.SetDefaultFallback(true);
    // The title field and the combo boxes keep the system's colours.
    colors_.SetAnsweredMessages(kColorDialog | kColorStatic | kColorButton | kColorScrollBar);

    SetUpMenu();
    FillLists();
    // Nothing longer than the stored title can be typed, so OK never cuts what was typed.
    SendDlgItemMessageW(window_, IDC_COLUMN_TITLE, EM_LIMITTEXT, kTextUnits - 1, 0);
    Load();
}

void PropertiesDialog::SetUpMenu() noexcept {
    menu_.Load(instance_, IDR_MAIN_MENU, IDR_MENU_ICONS, IDB_MENU_ICONS, window_);
    menu_.SetIconSize(16, 16);
    menu_.SetColors(MenuPalette());
}

void PropertiesDialog::FillLists() noexcept {
    for (const ComboList& list : kComboLists) {
        for (int i = 0; i < list.count; ++i) {
            wchar_t text[128] = {};
            if (LoadStringW(instance_, list.firstString + i, text, 128) > 0) {
                SendDlgItemMessageW(window_, list.control, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(text));
            }
        }
    }
}

void PropertiesDialog::Load() noexcept {
    Store::Settings settings;
    if (UniqueHKey key = Store::OpenForRead()) {
        Store::Read(key.get(), Store::kPropertiesReads, settings);
    }
    wchar_t separator[Store::kSeparatorTextUnits] = {};
    Store::SeparatorToText(settings.separator, separator);

    SetSelection(IDC_SIZE_UNITS, Store::NumberOf(settings, Store::Value::ViewMetric));
    SetSelection(IDC_VIEW_STYLE, Store::NumberOf(settings, Store::Value::ViewStyle));
    SetCheck(IDC_ENABLE_CACHE, settings.enableCache);
    SetCheck(IDC_ALWAYS_ON_TOP, settings.alwaysOnTop);
    SetDlgItemTextW(window_, IDC_COLUMN_TITLE, settings.columnTitle);
    SetDlgItemTextW(window_, IDC_DIGIT_GROUPING, separator);
    SetSelection(IDC_DECIMAL_DIGITS, settings.decimalDigits);
    SetCheck(IDC_CACHE_ALL, settings.cacheAll);
    SetCheck(IDC_ENABLE_SPLASH, settings.enableUpdSplash);
    SetSelection(IDC_BAR_STYLE, Store::NumberOf(settings, Store::Value::PB_Style));
    SetDlgItemTextW(window_, IDC_BAR_SYMBOL, settings.pbSymbol);

    SetCheck(IDC_START_WITH_WINDOWS, Store::IsAutostartSet() ? 1 : 0);
    if (settings.alwaysOnTop == 1) {
        SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    Enable(IDC_RESET_CACHE, settings.enableCache == 1);
    Enable(IDC_ENABLE_SPLASH, settings.cacheAll == 1);
}

void PropertiesDialog::Save() noexcept {
    {
        UniqueHKey key = Store::CreateForWrite();
        if (!key) {
            return;  // nothing is stored, not even the Run entry
        }
        HKEY k = key.get();
        Store::WriteInteger(k, Store::kViewStyle, Selection(IDC_VIEW_STYLE));
        Store::WriteInteger(k, Store::kViewMetric, Selection(IDC_SIZE_UNITS));
        Store::WriteInteger(k, Store::kEnableCache, Check(IDC_ENABLE_CACHE));
        Store::WriteInteger(k, Store::kAlwaysOnTop, Check(IDC_ALWAYS_ON_TOP));
        Store::WriteInteger(k, Store::kCacheAll, Check(IDC_CACHE_ALL));
        Store::WriteInteger(k, Store::kEnableUpdSplash, Check(IDC_ENABLE_SPLASH));
        Store::WriteInteger(k, Store::kPB_Style, Selection(IDC_BAR_STYLE));

        wchar_t text[kTextUnits] = {};
        GetDlgItemTextW(window_, IDC_BAR_SYMBOL, text, kTextUnits);
        Store::WriteCharacter(k, Store::kPB_Symbol, text[0]);

        text[0] = L'\0';
        GetDlgItemTextW(window_, IDC_COLUMN_TITLE, text, kTextUnits);
        Store::WriteText(k, Store::kColumnTitle, text);

        text[0] = L'\0';
        GetDlgItemTextW(window_, IDC_DIGIT_GROUPING, text, kTextUnits);
        Store::WriteCharacter(k, Store::kSeparator, Store::SeparatorFromText(text));

        Store::WriteInteger(k, Store::kDecimalDigits, Selection(IDC_DECIMAL_DIGITS));
    }
    if (Check(IDC_START_WITH_WINDOWS) == 1) {
        // A folder too long for a MAX_PATH path gets no entry rather than a cut one.
        std::wstring server = PathBeside(RunningProgramPath(), kCacheServerTail);
        if (!server.empty()) {
            Store::SetAutostart(server.c_str());
        }
    } else {
        Store::RemoveAutostart();
    }
}

void PropertiesDialog::Close(int code) noexcept {
    HWND window = window_;
    SaveWindowPosition(window);
    if (hooked_) {
        if (MessageLoop* loop = MessageLoop::Current()) {
            loop->RemoveFilter(this);
            loop->RemoveIdleHandler(this);
        }
        hooked_ = false;
    }
    CrashReporter::SetOwnerWindow(nullptr);
    window_ = nullptr;
    DestroyWindow(window);
    PostQuitMessage(code);
}

void PropertiesDialog::EnableCacheClicked() noexcept {
    if (Check(IDC_ENABLE_CACHE) == 1) {
        Enable(IDC_RESET_CACHE, true);
        return;
    }
    if (Ask(kDisableCacheQuestion, MB_ICONWARNING) == IDYES) {
        Enable(IDC_RESET_CACHE, false);
    } else {
        SetCheck(IDC_ENABLE_CACHE, 1);
    }
}

void PropertiesDialog::CacheAllClicked() noexcept {
    Enable(IDC_ENABLE_SPLASH, Check(IDC_CACHE_ALL) == 1);
}

void PropertiesDialog::KeepOneCharacter(int id) noexcept {
    wchar_t text[kShortTextUnits] = {};
    GetDlgItemTextW(window_, id, text, kShortTextUnits);
    if (text[0] != L'\0' && text[1] != L'\0') {
        text[1] = L'\0';
        SetDlgItemTextW(window_, id, text);
        // The caret after the character that is left, so typing goes on naturally.
        SendDlgItemMessageW(window_, id, CB_SETEDITSEL, 0, MAKELPARAM(1, 1));
    }
}

void PropertiesDialog::ResetCache() noexcept {
    Enable(IDC_RESET_CACHE, false);
    if (Ask(kResetCacheQuestion, MB_ICONQUESTION) == IDYES && IsCacheServerRunning()) {
        ComScope com;
        if (com.ok()) {
            // Never starts a server: only one whose mutex exists is asked, and the result
            // changes nothing here.
            ResetRunningCacheServer();
        }
    }
    if (window_ != nullptr) {
        Enable(IDC_RESET_CACHE, true);
    }
}

void PropertiesDialog::ShowMenu() noexcept {
    HMENU popup = GetSubMenu(menu_.RootMenu(), 0);
    RECT button{};
    if (popup == nullptr || !GetWindowRect(GetDlgItem(window_, IDC_MENU_BUTTON), &button)) {
        return;
    }
    UINT command = static_cast<UINT>(TrackPopupMenu(
        popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, button.left, button.bottom, 0, window_, nullptr));
    if (command == kHelpIndexCommand) {
        Help(false);
    } else if (command == kAboutCommand) {
        AboutDialog about(instance_);
        about.Run(window_);
    }
}

void PropertiesDialog::Help(bool dialogTopic) noexcept {
    // A folder too long for a MAX_PATH path opens nothing rather than a cut path.
    std::wstring file =
        PathBeside(RunningProgramPath(), dialogTopic ? kHelpTopicTail : kHelpFileTail);
    if (!file.empty()) {
        HtmlHelp::DisplayTopic(window_, file.c_str());
    }
}

int PropertiesDialog::Ask(const wchar_t* question, UINT icon) const noexcept {
    return MessageBoxW(window_, question, kPropertiesWindowTitle, MB_YESNO | icon);
}

void PropertiesDialog::SetSelection(int id, int64_t index) const noexcept {
    // A number outside the list (also one that a 32-bit index would wrap onto an item)
    // shows no selection.
    LRESULT count = SendDlgItemMessageW(window_, id, CB_GETCOUNT, 0, 0);
    WPARAM item =
        index >= 0 && index < count ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1);
    SendDlgItemMessageW(window_, id, CB_SETCURSEL, item, 0);
}

int64_t PropertiesDialog::Selection(int id) const noexcept {
    LRESULT selected = SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? -1 : static_cast<int64_t>(selected);
}

void PropertiesDialog::SetCheck(int id, int64_t value) const noexcept {
    // Stored 1 is checked; any other number unchecked, as every reader of the value sees it.
    CheckDlgButton(window_, id, value == 1 ? BST_CHECKED : BST_UNCHECKED);
}

int64_t PropertiesDialog::Check(int id) const noexcept {
    return IsDlgButtonChecked(window_, id) == BST_CHECKED ? 1 : 0;
}

void PropertiesDialog::Enable(int id, bool on) const noexcept {
    EnableWindow(GetDlgItem(window_, id), on ? TRUE : FALSE);
}

}  // namespace tvn
