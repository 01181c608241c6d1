// Drawing objects selected into a DC for a scope: what they replaced is put
// back, last first, when the scope ends, so a DC handed to a helper or to a
// control's parent keeps what it had.
#pragma once

#include "platform/gdi.h"

namespace platform::gdi {

class DcSelection {
 public:
  DcSelection(HDC dc, HGDIOBJ object) : dc_(dc) { select(object); }
  DcSelection(HDC dc, HGDIOBJ first, HGDIOBJ second) : dc_(dc) {
    select(first);
    select(second);
  }
  ~DcSelection() {
    while (count_ > 0) SelectObject(dc_, previous_[--count_]);
  }
  DcSelection(const DcSelection&) = delete;
  DcSelection& operator=(const DcSelection&) = delete;

 private:
  void select(HGDIOBJ object) { previous_[count_++] = SelectObject(dc_, object); }

  HDC dc_;
  HGDIOBJ previous_[2] = {};
  int count_ = 0;
};

}  // namespace platform::gdi
