#include "add_service_dialog.h"

#include "framework/fonts.h"
#include "framework/list_control.h"
#include "framework/row.h"
#include "olvaro/connection_state.h"
#include "olvaro/registrations.h"
#include "platform/bitmap.h"
#include "platform/controls.h"
#include "platform/msgbox.h"
#include "platform/screen.h"
#include "platform/text.h"
#include "string_table.h"

namespace host {

namespace {

constexpr UINT kSelectTypeHeader = 109;
constexpr UINT kAccountHeader = 110;
constexpr UINT kFirstFieldId = 2001;
// What the dialog reads of a label or an edit field.
constexpr int kMaxFieldText = 127;

// A service type row that also frees its icon.
class TypeRow : public fwk::TwoLineRow {
 public:
  TypeRow(std::u16string title, std::u16string text, HICON icon, int size)
      : TwoLineRow(std::move(title), std::move(text), icon, size) {}
  ~TypeRow() override {
    if (icon()) DestroyIcon(icon());
  }
};

std::string fieldText(HWND window) {
  WCHAR text[kMaxFieldText + 1] = {};
  int n = GetWindowText(window, text, kMaxFieldText + 1);
  return platform::narrow(std::u16string_view(text, n > 0 ? static_cast<size_t>(n) : 0));
}

}  // namespace

AddServiceDialog::AddServiceDialog(HWND owner, std::function<void()> onClosed)
    : Dialog(owner, u"Add a Service", std::move(onClosed)) {
  setHeaderText(loadText(kSelectTypeHeader));
  RECT body = bodyRect();
  list_ = std::make_unique<fwk::ListControl>(hwnd(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, body.left, body.top,
                                             body.right - body.left, body.bottom - body.top);

  // The hub reports every type; the host shows the first sixteen.
  HServiceType* types[kMaxServiceTypes] = {};
  int count = kMaxServiceTypes;
  KS_GetServiceTypes(types, &count);
  int iconSize = GetSystemMetrics(SM_CXSMICON);
  for (int i = 0; i < count && i < kMaxServiceTypes; ++i) {
    ServiceTypeData data{};
    data.size = sizeof data;
    KS_GetServiceTypeData(types[i], &data);
    HICON icon = data.iconModule && data.iconResource
                     ? static_cast<HICON>(
                           LoadImage(data.iconModule, data.iconResource, IMAGE_ICON, iconSize, iconSize, 0))
                     : nullptr;
    list_->addRow(fwk::Ref<fwk::Row>(new TypeRow(platform::widen(data.longName ? data.longName : ""),
                                                 platform::widen(data.shortName ? data.shortName : ""), icon,
                                                 iconSize)));
    types_.push_back(types[i]);
  }
  list_->refresh();
  SetFocus(list_->hwnd());
}

AddServiceDialog::~AddServiceDialog() = default;

void AddServiceDialog::onOk() {
  if (list_) {
    int selected = list_->selectedIndex();
    if (selected >= 0 && selected < static_cast<int>(types_.size())) showForm(types_[selected]);
    return;
  }
  submit();
}

void AddServiceDialog::showForm(HServiceType* type) {
  chosen_ = type;
  list_.reset();
  setHeaderText(loadText(kAccountHeader));

  ServiceTypeData data{};
  data.size = sizeof data;
  KS_GetServiceTypeData(type, &data);
  bool xmpp = data.shortName && std::string_view(data.shortName) == "XMPP";

  struct Spec {
    const char16_t* name;
    bool required;
    const char16_t* initial;
    DWORD style;
  };
  std::vector<Spec> specs = {{u"Username", true, u"", 0}, {u"Password", true, u"", ES_PASSWORD},
                             {u"Nickname", true, u"", 0}};
  if (xmpp) {
    specs.push_back({u"Server", true, kDefaultXmppServer, 0});
    specs.push_back({u"Resource", false, u"Home", 0});
  }
  UINT id = kFirstFieldId;
  for (const Spec& s : specs) {
    Field f;
    f.required = s.required;
    f.label = CreateWindowEx(0, WC_STATIC, s.name, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 10, 10,
                             hwnd(), reinterpret_cast<HMENU>(uintptr_t(id++)), nullptr, nullptr);
    f.edit = CreateWindowEx(WS_EX_CLIENTEDGE, WC_EDIT, s.initial,
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | s.style, 0, 0, 10, 10,
                            hwnd(), reinterpret_cast<HMENU>(uintptr_t(id++)), nullptr, nullptr);
    for (HWND control : {f.label, f.edit})
      SendMessage(control, WM_SETFONT, reinterpret_cast<WPARAM>(fwk::smallFont()), FALSE);
    fields_.push_back(f);
  }
  placeForm();
  SetFocus(fields_.front().edit);
}

void AddServiceDialog::placeForm() {
  if (fields_.empty()) return;
  RECT body = bodyRect();
  int dpi = platform::screenDpi();
  int margin = dpi * 4 / 96;
  int labelHeight = dpi * 16 / 96;
  int editHeight = dpi * 22 / 96;
  int scrollBar = GetSystemMetrics(SM_CXVSCROLL);
  int width = body.right - body.left - 2 * margin - scrollBar;

  formHeight_ = margin + static_cast<int>(fields_.size()) * (labelHeight + editHeight + 2 * margin);
  int visible = body.bottom - body.top;
  int maxScroll = formHeight_ > visible ? formHeight_ - visible : 0;
  if (scroll_ > maxScroll) scroll_ = maxScroll;

  int y = body.top + margin - scroll_;
  for (const Field& f : fields_) {
    MoveWindow(f.label, body.left + margin, y, width, labelHeight, TRUE);
    y += labelHeight + margin / 2;
    MoveWindow(f.edit, body.left + margin, y, width, editHeight, TRUE);
    y += editHeight + margin + margin / 2;
  }

  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = 0;
  si.nMax = formHeight_ > visible ? formHeight_ - 1 : 0;
  si.nPage = static_cast<UINT>(visible);
  si.nPos = scroll_;
  ShowScrollBar(hwnd(), SB_VERT, formHeight_ > visible);
  SetScrollInfo(hwnd(), SB_VERT, &si, TRUE);
}

void AddServiceDialog::scrollTo(int position) {
  scroll_ = position < 0 ? 0 : position;
  placeForm();
  InvalidateRect(hwnd(), nullptr, TRUE);
}

LRESULT AddServiceDialog::onCommand(UINT id, UINT code, HWND control) {
  if (code == EN_SETFOCUS && control) {
    ensureVisible(control);
    return 0;
  }
  return Dialog::onCommand(id, code, control);
}

void AddServiceDialog::ensureVisible(HWND edit) {
  for (const Field& f : fields_) {
    if (f.edit != edit) continue;
    RECT label, field;
    GetWindowRect(f.label, &label);
    GetWindowRect(f.edit, &field);
    POINT top{label.left, label.top}, bottom{field.right, field.bottom};
    ScreenToClient(hwnd(), &top);
    ScreenToClient(hwnd(), &bottom);
    RECT body = bodyRect();
    if (top.y < body.top)
      scrollTo(scroll_ - (body.top - top.y));
    else if (bottom.y > body.bottom)
      scrollTo(scroll_ + (bottom.y - body.bottom));
    return;
  }
}

LRESULT AddServiceDialog::onVScroll(UINT code, int pos, HWND) {
  if (fields_.empty()) return 0;
  int line = platform::screenDpi() * 16 / 96;
  RECT body = bodyRect();
  int page = body.bottom - body.top;
  switch (code) {
    case SB_LINEUP: scrollTo(scroll_ - line); break;
    case SB_LINEDOWN: scrollTo(scroll_ + line); break;
    case SB_PAGEUP: scrollTo(scroll_ - page); break;
    case SB_PAGEDOWN: scrollTo(scroll_ + page); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: scrollTo(pos); break;
    case SB_TOP: scrollTo(0); break;
    case SB_BOTTOM: scrollTo(formHeight_); break;
  }
  return 0;
}

LRESULT AddServiceDialog::onSize(UINT, int, int) {
  if (list_) {
    RECT body = bodyRect();
    MoveWindow(list_->hwnd(), body.left, body.top, body.right - body.left, body.bottom - body.top, TRUE);
  }
  placeForm();
  return 0;
}

void AddServiceDialog::submit() {
  ServiceRegistration record{};
  record.serviceType = chosen_;
  for (const Field& f : fields_) {
    std::string name = fieldText(f.label);
    std::string value = fieldText(f.edit);
    if (!name.empty() && !value.empty()) {
      addRegistrationField(&record, name, value);
    } else if (value.empty() && f.required) {
      MessageBox(hwnd(), u"A required field is missing", u"Missing Field", MB_OK | MB_ICONEXCLAMATION);
      SetFocus(f.edit);
      return;
    }
  }
  if (KS_GetVariantLong(olvaro::kConnectionStateVariant) != olvaro::kSignedIn) {
    MessageBox(hwnd(), u"You are not signed in.", u"Can't add service", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  KS_CallFunction(olvaro::handleName("ServiceType/%p/Register", chosen_).c_str(), &record);
  close();
}

}  // namespace host
