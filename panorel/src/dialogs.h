// The contact list's four dialogs on one frame: full screen with a caption
// band, labelled fields stacked below it, a waiting animation while the
// server is asked, and "Finish" once done. Each is made on first use and
// kept until the plug-in stops.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/control.h"
#include "olvaro/api.h"
#include "olvaro/connection_calls.h"

namespace panorel {

// The spots turning while the dialog waits: 128 x 32, one step per 150 ms.
class BusyAnimation : public fwk::Control {
 public:
  static constexpr UINT kStepMs = 150;
  explicit BusyAnimation(HWND parent);
  void start();
  void stop();
  unsigned tick() const { return m_tick; }

 protected:
  LRESULT onPaint() override;
  LRESULT onTimer(UINT_PTR id) override;
  LRESULT onEraseBackground(HDC) override { return 1; }

 private:
  unsigned m_tick = 0;
};

class PanelDialog : public fwk::Control {
 public:
  // Dialog states; "Join a Group" also has kInputWithPassword.
  enum State { kInput = 0, kWaiting = 1, kFinished = 2 };

  PanelDialog(LPCWSTR title, UINT menuBarId, unsigned captionId);
  ~PanelDialog() override;

  // Shows the dialog; one that had finished starts over.
  void bringUp();
  void close();
  bool isShown() const;
  int state() const { return m_state; }
  const std::u16string& caption() const { return m_caption; }
  const std::u16string& bodyText() const { return m_body; }
  HWND menuBar() const { return m_menuBar; }
  BusyAnimation& animation() { return *m_busy; }
  // The left soft key's text.
  std::u16string leftKeyText() const;

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  // The server's answer to the dialog's request.
  virtual void onResult(int64_t) {}

  // Caption band height and colours, for tests.
  static int captionHeight();
  static constexpr COLORREF kCaptionBand = 0x00B48C64;  // RGB(100, 140, 180)

 protected:
  virtual void onAction() = 0;
  // Called by bringUp before showing.
  virtual void onOpen() {}
  virtual bool finishedState(int state) const { return state == kFinished; }
  virtual bool fieldShown(size_t) const { return true; }

  // A label above its input; returns the input.
  HWND addField(LPCWSTR label, LPCWSTR inputClass, DWORD style);
  void setCaption(std::u16string caption);
  void setCaptionId(unsigned id);
  void setState(int state);
  // Hides the inputs and waits with `waitingText` under the animation.
  void wait(unsigned captionId, unsigned waitingTextId);
  void finish(unsigned captionId, unsigned bodyTextId, int finishedState = kFinished);
  void refuse(LPCWSTR text, LPCWSTR title);
  static std::string inputText(HWND input, int limit);

  // What a request's context carries: a number, not the dialog, so a
  // result that comes after the dialog went finds nothing.
  void* ticket() const { return reinterpret_cast<void*>(uintptr_t(m_ticket)); }
  static PanelDialog* fromTicket(void* context);
  // The requests' callback: the answer goes to the dialog still there.
  static void resultCallback(void* context, const olvaro::Response* response);

  LRESULT onCommand(UINT id, UINT code, HWND control) override;
  LRESULT onClose() override;
  LRESULT onPaint() override;
  LRESULT onEraseBackground(HDC) override { return 1; }
  LRESULT onSize(UINT kind, int width, int height) override;
  LRESULT onCtlColorStatic(HDC dc, HWND control) override;

 protected:
  void place();

 private:
  void setLeftKey(const std::u16string& text);

  struct Field {
    HWND label;
    HWND input;
    bool clearable;  // an edit the user types into
  };
  unsigned m_captionId;
  std::u16string m_caption;
  std::u16string m_body;
  HWND m_menuBar = nullptr;
  std::vector<Field> m_fields;
  HWND m_waitingText = nullptr;
  HWND m_bodyText = nullptr;
  std::unique_ptr<BusyAnimation> m_busy;
  HFONT m_captionFont = nullptr;
  HBRUSH m_white = nullptr;
  int m_state = kInput;
  uint32_t m_ticket;
  UINT m_nextId = 100;
};

class AddContactDialog : public PanelDialog {
 public:
  static constexpr int kMaxServices = 16;
  static constexpr int kUserNameLimit = 128;
  AddContactDialog();
  ~AddContactDialog() override;
  HWND serviceList() const { return m_services; }
  HWND userNameEdit() const { return m_userName; }
  void onResult(int64_t code) override;

 protected:
  void onAction() override;
  void onOpen() override;

 private:
  void releaseServices();
  HWND m_services;
  HWND m_userName;
  std::vector<HService*> m_serviceHandles;
};

class ContactPropertiesDialog : public PanelDialog {
 public:
  ContactPropertiesDialog();
  void fill(HContact* contact);
  HWND nicknameField() const { return m_nickname; }
  HWND statusField() const { return m_status; }
  HWND userIdField() const { return m_userId; }

 protected:
  void onAction() override { close(); }

 private:
  HWND m_nickname, m_status, m_userId;
};

class CreateGroupDialog : public PanelDialog {
 public:
  CreateGroupDialog();
  HWND nameEdit() const { return m_name; }
  void onResult(int64_t code) override;

 protected:
  void onAction() override;

 private:
  HWND m_name;
};

class JoinGroupDialog : public PanelDialog {
 public:
  static constexpr int kInputWithPassword = 2, kJoinFinished = 3;
  JoinGroupDialog();
  HWND nameEdit() const { return m_name; }
  HWND passwordEdit() const { return m_password; }
  void onResult(int64_t code) override;

 protected:
  void onAction() override;
  bool finishedState(int state) const override { return state == kJoinFinished; }
  bool fieldShown(size_t i) const override { return i == 0 || state() == kInputWithPassword; }

 private:
  HWND m_name;
  HWND m_password;
};

// The dialogs of the running plug-in, made on first use.
class DialogSet {
 public:
  DialogSet();
  ~DialogSet();
  DialogSet(const DialogSet&) = delete;
  DialogSet& operator=(const DialogSet&) = delete;
  static DialogSet* current();

  AddContactDialog& addContact();
  ContactPropertiesDialog& properties();
  CreateGroupDialog& createGroup();
  JoinGroupDialog& joinGroup();
  void showProperties(HContact* contact);

  // Null until first used.
  AddContactDialog* addContactIfMade() const { return m_addContact.get(); }
  CreateGroupDialog* createGroupIfMade() const { return m_createGroup.get(); }
  JoinGroupDialog* joinGroupIfMade() const { return m_joinGroup.get(); }
  ContactPropertiesDialog* propertiesIfMade() const { return m_properties.get(); }

 private:
  std::unique_ptr<AddContactDialog> m_addContact;
  std::unique_ptr<ContactPropertiesDialog> m_properties;
  std::unique_ptr<CreateGroupDialog> m_createGroup;
  std::unique_ptr<JoinGroupDialog> m_joinGroup;
};

}  // namespace panorel
