#pragma once
// The host application's automation object, as the program calls it.
//
// Every method may throw RuntimeError; the error reaches the calling operation, which only the
// close sequence traps. Planes the host hands out are moved to the program: they have one spare
// column and row (BufferWidth + 1 by BufferHeight + 1). Planes handed back are the program's own,
// passed by reference; the host adopts their content as its image data. They stay as they are from
// the set calls (and set_layer_planes) to the end of the wik_Refresh that follows, so a host may
// read them there instead of copying them.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/layer_planes.h"
#include "core/plane.h"

namespace tarvo {

class CanvasWindow;

// A colour channel of a pixel with alpha as the canvas shows it: over white paper, rounded to the
// nearest level. Every host hands out its transparent pixels this way.
constexpr uint8_t over_white(uint8_t colour, uint8_t alpha) {
  return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

class Host {
 public:
  virtual ~Host() = default;

  virtual int32_t Wik_GetPaperWidth() = 0;
  virtual int32_t wik_GetPaperHeight() = 0;
  virtual Plane Wik_GetPaper() = 0;
  virtual int32_t Wik_BufferWidth() = 0;
  virtual int32_t Wik_BufferHeight() = 0;
  virtual Plane Wik_GetRBuffer() = 0;
  virtual Plane Wik_GetGBuffer() = 0;
  virtual Plane Wik_GetBBuffer() = 0;
  virtual void Wik_SaveUndo() = 0;
  virtual void Wik_SetRbuffer(const Plane& plane) = 0;
  virtual void Wik_SetGbuffer(const Plane& plane) = 0;
  virtual void Wik_SetBbuffer(const Plane& plane) = 0;
  virtual void wik_Refresh() = 0;
  virtual std::string Wik_WallpaperFilename() = 0;
  virtual void Wik_SendFormObject(CanvasWindow& form, int16_t flags) = 0;

  // The image the last Wik_GetRBuffer handed out, with its own colours and alpha, when it has
  // transparency that painting may change; empty planes when it has none, or when painting keeps
  // its alpha as it is (a GIMP layer whose alpha is locked). With them the canvas lays paint over
  // the pixels as coverage (segment_renderer.h) and hands them back with set_layer_planes before
  // wik_Refresh.
  virtual LayerPlanes layer_planes() { return {}; }
  // The painted image's own colours and alpha for the next wik_Refresh, which takes them for every
  // painted pixel. Without this call (a canvas that painted without them) a painted pixel becomes
  // opaque in the colour the set calls handed back.
  virtual void set_layer_planes(const LayerPlanes& /*layer*/) {}

  // What the user knows the host as, for texts that name it ("Send image to GIMP").
  virtual std::string host_name() { return "Wickamber"; }
  // What the user knows the image as, to begin a sentence about it ("photo.png was changed").
  virtual std::string image_name() { return "The image"; }
  // Whether the session can paint its strokes since the image was last read or written onto the
  // image as it is now: a host that finds its image changed elsewhere then offers that (raising
  // RepaintOntoHostImage when it is chosen). Off until the session says so.
  virtual void set_can_repaint(bool can) { (void)can; }
  // The SHA-1 (hex) of the image file that reads back as exactly the planes the host handed out
  // or adopted last: the file it read them from, or wrote them to without loss. Empty when there is
  // no such file or the host cannot vouch for it.
  virtual std::string planes_file_checksum() { return {}; }
  // The ICC profile the image's colours are in, as its bytes, so that the canvas can show them as
  // they look (the planes keep the image's own values); empty when there is none (sRGB).
  virtual std::string colour_profile() { return {}; }
  // Whether the host itself asks what to do when its image has another size than the canvas (on
  // wik_Refresh, with the choices it has): the close then sends the image instead of asking
  // whether to close without writing.
  virtual bool asks_about_size() { return false; }
  // Whether the image the host holds after the last wik_Refresh differs from the planes it was
  // handed (a selection kept painted pixels out of it): the canvas then fetches it, so that it
  // shows what the image holds.
  virtual bool holds_other_than_sent() { return false; }
};

// Creates host objects by ProgID.
class HostRegistry {
 public:
  using Factory = std::function<std::unique_ptr<Host>()>;

  void register_host(const std::string& prog_id, Factory factory);
  // Raises RuntimeError 429 when no host is registered under prog_id.
  std::unique_ptr<Host> create(const std::string& prog_id) const;

 private:
  std::map<std::string, Factory> factories_;
};

inline constexpr const char* kHostProgId = "Wickamber.Wickamber_Class";

}  // namespace tarvo
