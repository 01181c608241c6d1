#include "overview_view.h"

#include <cstddef>

#include "olvaro/connection_state.h"
#include "texts.h"

namespace panorel {

OverviewView::OverviewView(HWND parent) : SectionView(parent), m_status(new StatusHeaderRow()) {
  using olvaro::FunctionRegistration;
  m_functions.push_back(FunctionRegistration::bind<&OverviewView::createSection>("Overview/CreateSection", this));
  m_functions.push_back(FunctionRegistration::bind<&OverviewView::addStaticItem>("Overview/AddStaticItem", this));
  m_functions.push_back(FunctionRegistration::bind<&OverviewView::updateStaticItem>("Overview/UpdateStaticItem", this));
  m_functions.push_back(FunctionRegistration::bind<&OverviewView::deleteItem>("Overview/DeleteItem", this));
  m_stateWatch = olvaro::subscribeVariant<&OverviewView::onState>(olvaro::kConnectionStateVariant, this);
  m_unreadWatch = olvaro::subscribeVariant<&OverviewView::fillMessages>("messages.unread", this);
  m_primary = KS_GetPrimaryService();
  m_serviceWatch = olvaro::subscribeService<&OverviewView::onService>(m_primary, this);

  fwk::Ref<OverviewSection> services(new OverviewSection("SERVICES", text(kStrServices)));
  services->items.push_back(m_status);
  appendSection(services);
  appendSection(fwk::Ref<OverviewSection>(new OverviewSection("MESSAGES", text(kStrMessages))));
  fillMessages();
}

OverviewView::~OverviewView() {
  m_functions.clear();
  m_serviceWatch.reset();
  m_unreadWatch.reset();
  m_stateWatch.reset();
  if (m_primary) KS_ReleaseService(m_primary);
}

void OverviewView::onState() { paintRow(indexOf(m_status.get())); }

void OverviewView::onService() { InvalidateRect(hwnd(), nullptr, FALSE); }

OverviewSection* OverviewView::fromHandle(void* handle) const {
  auto found = m_handles.find(handle);
  return found == m_handles.end() ? nullptr : found->second->section.get();
}

OverviewSection* OverviewView::holderOf(const void* item) const {
  if (!item) return nullptr;
  for (const auto& s : m_sections)
    for (const auto& i : s->items)
      if (i.get() == item) return s.get();
  return nullptr;
}

uint32_t OverviewView::createSection(olvaro::OverviewSectionInfo* info) {
  if (!info || !info->key) return 0;
  fwk::Ref<OverviewSection> target(section(info->key));
  if (!target) {
    target = fwk::Ref<OverviewSection>(new OverviewSection(info->key, widen(info->title)));
    if (info->atFront)
      prependSection(target);
    else
      appendSection(target);
    layOut();
  }
  auto handle = std::make_unique<SectionHandle>(SectionHandle{target});
  // The handle goes back in the record when the caller's record has room.
  if (info->size >= offsetof(olvaro::OverviewSectionInfo, section) + sizeof(void*)) info->section = handle.get();
  m_handles.emplace(handle.get(), std::move(handle));
  return 1;
}

uint32_t OverviewView::addStaticItem(olvaro::OverviewItemInfo* info) {
  if (!info) return 0;
  OverviewSection* target = fromHandle(info->section);
  if (!target) return 0;
  fwk::Ref<StaticItemRow> item(new StaticItemRow(info->title, info->text, info->iconModule, info->iconResource));
  target->items.push_back(item);
  info->item = item.get();
  layOut();
  return 1;
}

uint32_t OverviewView::updateStaticItem(olvaro::OverviewItemInfo* info) {
  // Only an item of ours that is still listed is touched.
  if (!info || !holderOf(info->item)) return 0;
  auto* item = dynamic_cast<StaticItemRow*>(static_cast<fwk::Row*>(info->item));
  if (!item) return 0;
  if (info->title) item->setTitle(widen(info->title));
  if (info->text) item->setText(widen(info->text));
  if (info->iconModule && info->iconResource) item->setIcon(info->iconModule, info->iconResource);
  paintRow(indexOf(item));
  return 1;
}

uint32_t OverviewView::deleteItem(void* item) {
  OverviewSection* s = holderOf(item);
  if (!s) return 0;
  for (auto it = s->items.begin(); it != s->items.end(); ++it) {
    if (it->get() == item) {
      // The status header and the unread rows are this view's own.
      if (!dynamic_cast<StaticItemRow*>(it->get())) return 0;
      fwk::Ref<fwk::Row> keep = *it;  // until the list has let go too
      s->items.erase(it);
      layOut();
      break;
    }
  }
  return 1;
}

void OverviewView::fillMessages() {
  OverviewSection* messages = section("MESSAGES");
  if (!messages) return;
  messages->items.clear();
  if (KS_GetVariantLong("messages.unread") != 0) {
    HContact* contacts[kMaxUnread] = {};
    uint32_t count = kMaxUnread;
    KS_GetUnreadContacts(contacts, &count);
    for (uint32_t i = 0; i < count && i < kMaxUnread; ++i)
      messages->items.push_back(fwk::Ref<fwk::Row>(new UnreadContactRow(contacts[i])));
    HGroup* groups[kMaxUnread] = {};
    count = kMaxUnread;
    KS_GetUnreadGroups(groups, &count);
    for (uint32_t i = 0; i < count && i < kMaxUnread; ++i)
      messages->items.push_back(fwk::Ref<fwk::Row>(new UnreadGroupRow(groups[i])));
  } else {
    messages->items.push_back(fwk::Ref<fwk::Row>(new NoUnreadRow()));
  }
  layOut();
}

void OverviewView::onSideKey(UINT key) {
  setSelectedIndex(0);
  SectionView::onSideKey(key);
}

}  // namespace panorel
