// The host's libgimp calls that GIMP 2.10 and GIMP 3 spell alike: each plug-in compiles this file
// against its own libgimp, beside its version's adapter (gimp2_api.cpp or gimp3_api.cpp).
#include <libgimp/gimp.h>

#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "gimp/gimp_api.h"

namespace tarvo::gimp_api {

namespace {

// How far below the client area's top GIMP's single window shows its image: its menu bar and the
// row of image tabs above the rulers.
constexpr int32_t kSingleWindowImageTop = 72;
// The pane handle between the docks at the left and the image.
constexpr int32_t kPaneHandle = 6;

// The value of the first "(name VALUE)" or "(name "VALUE")" in one of GIMP's resource files;
// nothing when the file or the setting is not there.
std::optional<std::string> setting_in(const std::string& path, const std::string& name) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::stringstream text;
  text << file.rdbuf();
  const std::string all = text.str();
  const std::string key = "(" + name + " ";
  const std::size_t at = all.find(key);
  if (at == std::string::npos) return std::nullopt;
  std::size_t begin = at + key.size();
  const std::size_t end = all.find(')', begin);
  if (end == std::string::npos) return std::nullopt;
  std::string value = all.substr(begin, end - begin);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// A setting as GIMP takes it: the user's session file where there is one, else the system's;
// then the user's resource file, then the system's.
std::optional<std::string> gimp_setting(const std::string& name) {
  const std::string user = gimp_directory(), system = gimp_sysconf_directory();
  std::ifstream user_session(user + "/sessionrc");
  const std::string session = (user_session ? user : system) + "/sessionrc";
  for (const std::string& path : {session, user + "/gimprc", system + "/gimprc"}) {
    if (std::optional<std::string> value = setting_in(path, name)) return value;
  }
  return std::nullopt;
}

}  // namespace

void find_image_area(HostWindow& window) {
  if (gimp_setting("single-window-mode").value_or("no") != "yes") return;
  window.image_top = kSingleWindowImageTop;
  if (gimp_setting("hide-docks").value_or("no") == "yes") return;
  try {
    window.image_left = std::stoi(gimp_setting("left-docks-width").value_or("0")) + kPaneHandle;
  } catch (const std::exception&) {
    window.image_left = 0;
  }
}

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

std::string icc_bytes(GimpColorProfile* profile) {
  if (!profile) return {};
  gsize length = 0;
  const guint8* bytes = gimp_color_profile_get_icc_profile(profile, &length);
  std::string icc(reinterpret_cast<const char*>(bytes), bytes ? length : 0);
  g_object_unref(profile);
  return icc;
}

}  // namespace tarvo::gimp_api
