// The host's libgimp calls that GIMP 2.10 and GIMP 3 spell alike: each plug-in compiles this file
// against its own libgimp, beside its version's adapter (gimp2_api.cpp or gimp3_api.cpp).
#include <libgimp/gimp.h>

#include "gimp/gimp_api.h"

namespace tarvo::gimp_api {

void flush_displays() {
  gimp_displays_flush();
}

void progress_start(const char* message) {
  gimp_progress_init(message);
}

void progress_update(double fraction) {
  gimp_progress_update(fraction);
}

void progress_end() {
  gimp_progress_end();
}

void message(const std::string& text) {
  gimp_message(text.c_str());
}

}  // namespace tarvo::gimp_api
