#include "group_view.h"

#include <algorithm>
#include <vector>

#include "olvaro/connection_state.h"
#include "texts.h"

namespace panorel {

namespace {

bool before(const fwk::Ref<fwk::Row>& a, const fwk::Ref<fwk::Row>& b) {
  auto* x = static_cast<ContactRow*>(a.get());
  auto* y = static_cast<ContactRow*>(b.get());
  if (x->online() != y->online()) return x->online();
  return x->sortKey() < y->sortKey();
}

}  // namespace

std::string GroupView::collapsedSetting(const std::string& key) { return "Panorel/Groups/" + key + "/Collapsed"; }

GroupView::GroupView(HWND parent, HGroup* group)
    : SectionView(parent), m_group(KS_DuplicateGroupHandle(group)), m_id(KS_GetGroupID(group)) {
  m_groupWatch = olvaro::subscribeGroup<&GroupView::markDirty>(m_group, this);
  m_unreadWatch = olvaro::subscribeVariant<&GroupView::markDirty>("messages.unread", this);
  m_stateWatch = olvaro::subscribeVariant<&GroupView::onState>(olvaro::kConnectionStateVariant, this);
  if (m_id != 0) {
    fwk::Ref<OverviewSection> chat(new OverviewSection("GROUP", text(kStrGroupChat)));
    chat->items.push_back(fwk::Ref<fwk::Row>(new GroupChatRow(this, m_group)));
    appendSection(chat);
  }
  appendSection(fwk::Ref<OverviewSection>(new OverviewSection("ONLINE", text(kStrOnline))));
  appendSection(fwk::Ref<OverviewSection>(new OverviewSection("OFFLINE", text(kStrOffline))));
  for (auto& s : m_sections) s->collapsed = KS_GetSettingLong(collapsedSetting(s->key).c_str(), 0) != 0;
  rebuild();
}

GroupView::~GroupView() {
  for (auto& s : m_sections) KS_SetSettingLong(collapsedSetting(s->key).c_str(), s->collapsed ? 1 : 0);
  m_stateWatch.reset();
  m_unreadWatch.reset();
  m_groupWatch.reset();
  removeAllRows();
  for (auto& s : m_sections)
    if (s->key != "GROUP") s->items.clear();
  for (auto& [contact, row] : m_rows) row->detach();
  m_rows.clear();
  // The group-chat row goes with its section, before the handle.
  m_sections.clear();
  KS_ReleaseGroup(m_group);
}

bool GroupView::receivingLists() {
  long state = KS_GetVariantLong(olvaro::kConnectionStateVariant);
  return state == olvaro::kReceivingContacts || state == olvaro::kReceivingGroups || state == olvaro::kFetchingStored;
}

void GroupView::onState() {
  if (m_dirty && !receivingLists()) invalidate();
}

void GroupView::markDirty() {
  m_dirty = true;
  if (!receivingLists()) invalidate();
}

void GroupView::invalidate() { InvalidateRect(hwnd(), nullptr, FALSE); }

void GroupView::rebuild() {
  m_dirty = false;
  OverviewSection* online = section("ONLINE");
  OverviewSection* offline = section("OFFLINE");
  online->items.clear();
  offline->items.clear();

  uint32_t count = 0;
  KS_GetGroupMembers(m_group, nullptr, nullptr, &count);
  std::vector<HContact*> handles(count);
  std::vector<int32_t> values(count);
  if (count) KS_GetGroupMembers(m_group, handles.data(), values.data(), &count);

  // Rows of members still listed are kept with their icons and
  // subscriptions; the rest go.
  uint32_t generation = ++m_generation;
  m_rows.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    fwk::Ref<ContactRow>& row = m_rows[handles[i]];
    if (row) {
      row->setRole(values[i]);
      row->readSortKey();
    } else {
      row = fwk::Ref<ContactRow>(new ContactRow(this, handles[i], values[i]));
    }
    row->generation = generation;
    (row->listedOnline() ? online : offline)->items.push_back(row);
  }
  std::stable_sort(online->items.begin(), online->items.end(), before);
  std::stable_sort(offline->items.begin(), offline->items.end(), before);
  layOut();
  if (m_rows.size() > count) std::erase_if(m_rows, [generation](const auto& e) { return e.second->generation != generation; });
}

LRESULT GroupView::onPaint() {
  if (m_dirty && !receivingLists()) rebuild();
  return fwk::ListControl::onPaint();
}

}  // namespace panorel
