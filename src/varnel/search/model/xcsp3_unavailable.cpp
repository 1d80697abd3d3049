// The XCSP3 reader of a build made without expat or liblzma (the MinGW cross build among them):
// every XCSP3 file is refused with the reason, never read as something else.
#include "varnel/search/model/xcsp3_reader.h"

namespace varnel {

bool xcsp3Available() { return false; }

Xcsp3ReadResult readXcsp3(std::istream&, const Xcsp3ReadOptions&) {
  Xcsp3ReadResult result;
  result.line = 1;
  result.unsupported = true;
  result.error =
      "this build of varnel reads no XCSP3 (it was built without expat and liblzma; see "
      "docs/windows.md)";
  return result;
}

}  // namespace varnel
