// Counts of the GDI objects and memory DCs made through this test program
// (the framework is compiled into it, so its calls are counted too), to show
// that painting frees what it makes and puts back what it selects.
#pragma once

namespace fwktest {

struct GdiCounts {
  long objectsMade = 0;  // bitmaps, brushes, pens and fonts ever made
  long objectsLive = 0;  // of those, not yet deleted
  long dcsMade = 0;      // memory DCs ever made
  long dcsLive = 0;
  // Memory DCs deleted while a font, pen, brush or bitmap other than the
  // one they were made with was still selected in them.
  long dcsDeletedDirty = 0;
};

GdiCounts gdiCounts();

}  // namespace fwktest
