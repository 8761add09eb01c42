#include "common/kiss_reader.hpp"

#include "gui/kiss.hpp"

bool kiss_read_byte(KissReader& r, uint8_t b) {
  if (r.complete) {
    r.frame.clear();
    r.complete = false;
  }
  if (b == FEND) {
    r.escape = false;
    r.complete = !r.frame.empty();
    return r.complete;
  }
  if (r.escape) {
    r.escape = false;
    r.frame.push_back(b == TFEND ? FEND : b == TFESC ? FESC : b);
  } else if (b == FESC) {
    r.escape = true;
  } else {
    r.frame.push_back(b);
  }
  return false;
}
