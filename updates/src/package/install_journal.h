// The install journal: while the files of a package are being swapped, the
// program folder holds "install.journal", synced, naming every target, so
// that a start after a crash can finish the install or undo it and never
// leave a mix of old and new modules, or a module missing.
//
//   "OLVJ", the state ('F' finishing, 'R' rolling back), then for each
//   target a byte (1 when it had an old version, kept as "<name>.old" by a
//   second link), the digest of its new bytes and its name, NUL-terminated.
#pragma once

#include <string>
#include <vector>

#include "update_manifest.h"

namespace updates {

struct JournalEntry {
  std::string name;
  bool hadOld = false;
  Digest digest{};
};

struct Journal {
  char state = 'F';
  std::vector<JournalEntry> entries;
};

// Written beside as "install.journal.new", flushed, then renamed over the
// journal, so it is whole or absent.
bool writeJournal(const std::string& dir, const Journal& journal, bool durable);
// False when there is none or it is not a journal this code wrote.
bool readJournal(const std::string& dir, Journal* out);
void removeJournal(const std::string& dir, bool durable);

// Puts every target back as it was (the journal first says so, in case this
// is cut short too), then removes the journal.
void rollBack(const std::string& dir, Journal journal, bool durable);

// At start-up: finishes an install cut short when every new file it names
// is whole, else undoes it; then deletes what an install leaves ("*.new",
// and "*.old" whose file is there; one whose file is missing is put back).
void recoverInstall(const std::string& folder);

}  // namespace updates
