// The overview: the sign-in status under "SERVICES", the unread messages
// under "MESSAGES", and the sections and items other plug-ins add through
// the four "Overview/..." functions, which live as long as this view.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "olvaro/connection_calls.h"
#include "olvaro/registrations.h"
#include "overview_items.h"
#include "section_view.h"

namespace panorel {

// What "Overview/CreateSection" hands out: one counted reference to the
// section.
struct SectionHandle {
  fwk::Ref<OverviewSection> section;
};

class OverviewView : public SectionView {
 public:
  static constexpr uint32_t kMaxUnread = 64;

  explicit OverviewView(HWND parent);
  ~OverviewView() override;

  // The four functions' work; each returns what the function does.
  uint32_t createSection(olvaro::OverviewSectionInfo* info);
  uint32_t addStaticItem(olvaro::OverviewItemInfo* info);
  uint32_t updateStaticItem(olvaro::OverviewItemInfo* info);
  uint32_t deleteItem(void* item);

  // Fills "MESSAGES" again from the unread queues.
  void fillMessages();
  StatusHeaderRow* statusHeader() const { return m_status.get(); }

 protected:
  void onSideKey(UINT key) override;

 private:
  void onState();
  void onService();
  // The section behind a handle this view gave out, or null.
  OverviewSection* fromHandle(void* handle) const;
  // The section listing the item, or null.
  OverviewSection* holderOf(const void* item) const;

  fwk::Ref<StatusHeaderRow> m_status;
  // Every handle given out, by its address.
  std::unordered_map<const void*, std::unique_ptr<SectionHandle>> m_handles;
  std::vector<olvaro::FunctionRegistration> m_functions;
  olvaro::VariantSubscription m_stateWatch, m_unreadWatch;
  olvaro::ServiceSubscription m_serviceWatch;
  HService* m_primary = nullptr;
};

}  // namespace panorel
