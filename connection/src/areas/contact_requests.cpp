#include "contact_requests.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "contacts.h"
#include "olvaro/hub_records.h"
#include "platform/menu.h"
#include "platform/msgbox.h"
#include "platform/resources.h"
#include "texts.h"

namespace olvaro::conn {
namespace {

enum : UINT { kMenuAccept = 1, kMenuDecline = 2 };

constexpr const char* kAddBackMessage = "You just added me - I'd like to add you too.";

// The overview section of requests, made once per hub: the overview keeps
// it for as long as anyone holds the handle. Kept in a variant, so a new hub
// (and a new overview) gets a new section.
void* requestsSection() {
  constexpr const char* kKept = "connection.overview.requests";
  void* section = KS_GetVariantPtr(kKept);
  if (!section) {
    OverviewSectionInfo info{sizeof info, "AWAITING_ACCEPTANCE", "Wanting to add you...", 1, nullptr};
    if (KS_CallFunction("Overview/CreateSection", &info)) KS_SetVariantPtr(kKept, section = info.section);
  }
  return section;
}

bool listed(HContact* contact) {
  HGroup* list = KS_GetGroup(0);
  if (!list) return false;
  bool in = KS_GroupContainsMember(list, contact) != 0;
  KS_ReleaseGroup(list);
  return in;
}

// The answer to an accept or decline: taken, the request answered goes.
class ContactAcceptPendingRequest : public PendingRequest {
 public:
  ContactAcceptPendingRequest(uint64_t id, ContactRequests& requests, int64_t sourceId, uint64_t answered)
      : PendingRequest(id), requests_(requests), sourceId_(sourceId), answered_(answered) {}
  bool onResponse(int64_t code, const std::string&) override {
    if (code == kResponseOk) requests_.remove(sourceId_, answered_);
    return true;
  }

 private:
  // The table of waiting requests is emptied before the areas go.
  ContactRequests& requests_;
  int64_t sourceId_;
  // The serial of the request answered: a newer one from the same person
  // is never taken for it.
  uint64_t answered_;
};

// The owners alive, by id.
struct Owners {
  std::mutex lock;
  std::unordered_map<uint64_t, ContactRequestOwner*> live;
  uint64_t last = 0;
};

Owners& owners() {
  static Owners table;
  return table;
}

uint64_t nextSerial() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

// 0 (no request's) for none.
uint64_t serialOf(const fwk::counted_ptr<ContactRequest>& request) { return request ? request->serial() : 0; }

// The owner and its request under these ids; null when either is gone.
fwk::counted_ptr<ContactRequest> lookUp(uint64_t ownerId, int64_t sourceId, ContactRequestOwner** owner) {
  *owner = ContactRequestOwner::find(ownerId);
  return *owner ? (*owner)->findRequest(sourceId) : fwk::counted_ptr<ContactRequest>();
}

}  // namespace

ContactRequestOwner::ContactRequestOwner() {
  Owners& table = owners();
  std::lock_guard<std::mutex> hold(table.lock);
  ownerId_ = ++table.last;
  table.live[ownerId_] = this;
}

ContactRequestOwner::~ContactRequestOwner() {
  Owners& table = owners();
  std::lock_guard<std::mutex> hold(table.lock);
  table.live.erase(ownerId_);
}

ContactRequestOwner* ContactRequestOwner::find(uint64_t ownerId) {
  Owners& table = owners();
  std::lock_guard<std::mutex> hold(table.lock);
  auto it = table.live.find(ownerId);
  return it == table.live.end() ? nullptr : it->second;
}

ContactRequest::ContactRequest(ContactRequestOwner& owner, HService* service, HContact* contact, int64_t sourceId,
                               std::string name, std::string message)
    : ownerId_(owner.ownerId()),
      serial_(nextSerial()),
      service_(service ? KS_DuplicateServiceHandle(service) : nullptr),
      contact_(KS_DuplicateContactHandle(contact)),
      sourceId_(sourceId),
      name_(std::move(name)),
      message_(std::move(message)) {}

ContactRequest::~ContactRequest() {
  holder_.contextMenu.reset();
  if (holder_.item) KS_CallFunction("Overview/DeleteItem", holder_.item);
  holder_.item = nullptr;
  if (contact_) KS_ReleaseContact(contact_);
  if (service_) KS_ReleaseService(service_);
}

void ContactRequest::show(ContactRequest* replaced) {
  if (replaced && replaced != this) {
    holder_.item = replaced->holder_.item;
    replaced->holder_.item = nullptr;
  }
  const char* text = message_.c_str();
  if (requestState_ == kRequestAccepting) text = "Accepting Contact...";
  if (requestState_ == kRequestDeclining) text = "Declining Contact...";
  OverviewItemInfo info{};
  info.size = sizeof info;
  info.title = name_.c_str();
  info.text = text;
  info.iconModule = platform::currentModule();
  info.iconResource = u"CONTACT";
  if (holder_.item) {
    info.item = holder_.item;
    KS_CallFunction("Overview/UpdateStaticItem", &info);
  } else if (void* section = requestsSection()) {
    info.section = section;
    if (KS_CallFunction("Overview/AddStaticItem", &info)) holder_.item = info.item;
  }
  if (!holder_.contextMenu)
    holder_.contextMenu = subscribeEvent<&ContactRequest::onContextMenu>("Overview/Item/OnContextMenu", this);
}

bool ContactRequest::onContextMenu(const OverviewContextMenuInfo* info) {
  if (!info || !holder_.item || info->item != holder_.item) return false;
  showContactRequestMenu(ownerId_, sourceId_, info->x, info->y);
  return true;
}

ContactRequests::ContactRequests(Session& session) : ProtocolArea(session) {
  handle<&ContactRequests::onContactAdd>("CONTACT ADD", this);
  acceptContact_ = FunctionRegistration::bind<&ContactRequests::acceptContact>(
      handleName("Service/%p/AcceptContact", session.service()), this);
}

// Before the table goes, so no request calls back into a half-gone area.
ContactRequests::~ContactRequests() { requests_.clear(); }

ContactRequest* ContactRequests::find(int64_t sourceId) const {
  auto it = requests_.find(sourceId);
  return it == requests_.end() ? nullptr : it->second.get();
}

bool ContactRequests::onContactAdd(Packet& packet) {
  int64_t sourceId = int64_t(packet.getHeaderId("Source-Id"));
  std::string name = packet.getHeader("Name");
  HContact* contact = session_.contacts().getContact(sourceId);
  if (!contact) return true;
  ContactData d{};
  d.size = sizeof d;
  d.mask = CONTACT_NAME;
  d.name = name.c_str();
  KS_SetContactData(contact, &d);

  fwk::counted_ptr<ContactRequest> request(
      new ContactRequest(*this, session_.service(), contact, sourceId, std::move(name), packet.body));
  KS_ReleaseContact(contact);
  enterContactRequest(requests_, sourceId, std::move(request));
  return true;
}

void enterContactRequest(std::map<int64_t, fwk::counted_ptr<ContactRequest>>& table, int64_t id,
                         fwk::counted_ptr<ContactRequest> request) {
  // The older request stays alive until the new one has its item.
  fwk::counted_ptr<ContactRequest> older;
  auto it = table.find(id);
  if (it != table.end()) older = it->second;
  table[id] = request;
  request->show(older.get());
}

void removeAnsweredRequest(std::map<int64_t, fwk::counted_ptr<ContactRequest>>& table, int64_t id,
                           uint64_t serial) {
  auto it = table.find(id);
  if (it == table.end() || it->second->serial() != serial) return;
  // Out of the table before it goes: its end deletes the item.
  fwk::counted_ptr<ContactRequest> gone = it->second;
  table.erase(it);
}

fwk::counted_ptr<ContactRequest> ContactRequests::findRequest(int64_t id) const {
  auto it = requests_.find(id);
  return it == requests_.end() ? fwk::counted_ptr<ContactRequest>() : it->second;
}

void ContactRequests::addBack(const std::string& name, const char* message) {
  AddContactRequest add{sizeof add, name.c_str(), message, nullptr, nullptr};
  session_.contacts().addContact(add);
}

int ContactRequests::acceptContact(const AcceptContactRequest& request) {
  uint32_t id = KS_GetLUID();
  Packet answer("CONTACT ADD RESP");
  answer.setHeaderInt("Mesg-Id", int32_t(id));
  answer.setHeaderId("Source-Id", uint64_t(request.sourceId));
  if (request.accepted) answer.setHeaderInt("Accepted", 1);
  // Entered first: a send that ends the link answers it with the others.
  session_.registerPendingRequest(
      fwk::counted_ptr<PendingRequest>(
          new ContactAcceptPendingRequest(id, *this, request.sourceId, serialOf(findRequest(request.sourceId)))));
  session_.send(answer);
  return 1;
}

void showContactRequestMenu(uint64_t ownerId, int64_t sourceId, int x, int y) {
  HMODULE module = platform::currentModule();
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  std::u16string accept = platform::loadStringWide(module, kStrAccept);
  std::u16string decline = platform::loadStringWide(module, kStrDecline);
  AppendMenu(menu, MF_STRING, kMenuAccept, accept.c_str());
  AppendMenu(menu, MF_STRING, kMenuDecline, decline.c_str());
  HWND window = mainWindow();
  UINT chosen = UINT(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY, x, y, window, nullptr));
  DestroyMenu(menu);

  // The menu and the question run their own loops, and a send can end the
  // link: meanwhile the owner may have gone (a bridge goes with the link) or
  // the request been answered or replaced, so both are looked up again
  // after each.
  ContactRequestOwner* owner = nullptr;
  fwk::counted_ptr<ContactRequest> request = lookUp(ownerId, sourceId, &owner);
  if (!request) return;
  if (chosen == kMenuAccept) {
    if (!listed(request->contact())) {
      std::u16string caption = platform::loadStringWide(module, kStrContactAccepted);
      std::u16string question = platform::loadStringWide(module, kStrAddToListQuestion);
      int answer = MessageBox(nullptr, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION);
      request = lookUp(ownerId, sourceId, &owner);
      if (!request) return;
      if (answer == IDYES) {
        owner->addBack(request->name(), kAddBackMessage);
        request = lookUp(ownerId, sourceId, &owner);
        if (!request) return;
      }
    }
    owner->acceptContact(AcceptContactRequest{sourceId, 1});
  } else if (chosen == kMenuDecline) {
    owner->acceptContact(AcceptContactRequest{sourceId, 0});
  }
  // Only the request that was answered shows it.
  fwk::counted_ptr<ContactRequest> answered = request;
  request = lookUp(ownerId, sourceId, &owner);
  if (!request || request.get() != answered.get()) return;
  if (chosen == kMenuAccept) request->setRequestState(kRequestAccepting);
  if (chosen == kMenuDecline) request->setRequestState(kRequestDeclining);
  request->show(nullptr);
}

}  // namespace olvaro::conn
