// A member view: the members of one group under "ONLINE" and "OFFLINE"
// (and, for a real group, its group-chat row under "GROUP"). Changes only
// mark the view; it is rebuilt once, before the next paint.
#pragma once

#include <unordered_map>

#include "member_rows.h"
#include "olvaro/registrations.h"
#include "section_view.h"

namespace panorel {

class GroupView : public SectionView {
 public:
  GroupView(HWND parent, HGroup* group);
  ~GroupView() override;

  HGroup* group() const { return m_group; }
  int64_t groupId() const { return m_id; }
  bool ownList() const { return m_id == 0; }

  void markDirty();
  bool dirty() const { return m_dirty; }
  void invalidate();
  // Lists the members again (done by the next paint when marked).
  void rebuild();

  static std::string collapsedSetting(const std::string& key);

 protected:
  LRESULT onPaint() override;

 private:
  void onState();
  // While the connection receives the lists the rows would be made again
  // for every batch of contacts; they wait for the lists to be whole.
  static bool receivingLists();

  HGroup* m_group;
  int64_t m_id;
  bool m_dirty = true;
  uint32_t m_generation = 0;
  std::unordered_map<HContact*, fwk::Ref<ContactRow>> m_rows;
  olvaro::GroupSubscription m_groupWatch;
  olvaro::VariantSubscription m_unreadWatch, m_stateWatch;
};

}  // namespace panorel
