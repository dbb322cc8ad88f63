#pragma once
// The GIMP host: the host object mapped onto one GIMP drawable through libgimp, for the plug-in.
//
// The image is the drawable's pixels as 8-bit gamma-encoded RGB in the image's own colour space,
// read once per fetch (Wik_GetRBuffer reads, the green and blue planes come from the same reading);
// a layer with alpha is handed out as it looks over white paper, so transparent areas show white.
// The size is asked of GIMP at each call, so a layer resized in GIMP meanwhile is seen by the close
// sequence's size check. The paper is the pattern active in GIMP's context, as grey levels; a
// pattern that cannot be read gives the built-in grain, and the user is told.
//
// Sending the image back is one GIMP undo step: the pixels go through the drawable's shadow buffer
// and are merged, which honours the selection as GIMP's own filters do, then the drawable is
// updated and the displays flushed. Only pixels whose colour differs from what the last fetch
// handed out are written; every other pixel keeps its exact value and alpha at the drawable's own
// precision (8-bit, 16-bit or float). A layer with alpha hands the canvas its own colours and alpha
// too (layer_planes), over which it paints as coverage, and a painted pixel takes the colour and
// alpha the canvas hands back in them. A layer whose alpha is locked hands out none and keeps
// every alpha as it is; a painted pixel becomes opaque when the canvas hands back none. A
// write-back that would change no pixel makes no call that writes: no undo step, and the image
// stays as clean as it was.
//
// libgimp is reached through gimp_api.h, whose adapter the plug-in of each GIMP version links.
//
// Before every write the host checks that the layer still holds what the canvas read or last wrote
// (a hash of GIMP's own bytes for each band of rows). When GIMP changed it meanwhile (its tools,
// an undo, a filter), the host asks what to do (ask_about_change): paint the session's strokes
// onto the layer as it is now (RepaintOntoHostImage, when the session can), overwrite GIMP's
// changes (every pixel where the canvas differs from the layer as it is now takes the canvas's
// colour), or keep painting. With no one to ask the write is refused.
//
// A layer scaled or resized in GIMP while the canvas is open is not written: the user is told its
// new size and may keep painting, have the painting added to the image as a new layer of the
// canvas's size, save it as a file, or (when the session can) have the strokes painted onto the
// layer at its new size, scaled by the ratio (RepaintOntoHostImage with the ratios). A painting
// to recover (start_from) of another size than the layer opens at its own size, and the user is
// told. A layer deleted in GIMP is said to be deleted (an undo in GIMP brings it back).
//
// After a write cut by a selection, holds_other_than_sent says so, and the canvas reads the
// layer back. A write shows a busy pointer while someone is looking.
//
// Every libgimp call that fails raises RuntimeError with what GIMP said. When the drawable is gone
// (its image closed in GIMP) or GIMP itself is gone, the lost hook runs first, so that the caller
// can keep the painting elsewhere; once GIMP is gone no call is made to it again.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/presence.h"

namespace tarvo {

struct HostImage;

// Whether GIMP is still at the other end of the plug-in's pipe. Set by whoever watches the pipe.
struct GimpLink {
  bool gone = false;
};

// Why Tarvo cannot paint on the drawable, and what to do about it, in the words of GIMP's own
// dialogs and docks; empty when it can. A text layer can: painting on it keeps its pixels and
// discards its text information, which the caller asks about first.
std::string unpaintable_reason(int32_t drawable);

enum class LayerChangeAnswer { kRepaint, kOverwrite, kKeepPainting };
enum class LayerSizeAnswer { kNewLayer, kSaveFile, kRepaintScaled, kKeepPainting };

struct GimpHostOptions {
  // GIMP's ids of the image and the drawable.
  int32_t image = -1;
  int32_t drawable = -1;
  bool show_progress = true;  // GIMP's progress bar while a large drawable is read or written
  // A picture file (a recovered painting) that the first fetch hands out instead of the layer's
  // pixels, when it has the layer's size; the layer's own pixels still tell what was painted.
  std::string start_from;
  std::shared_ptr<GimpLink> link = std::make_shared<GimpLink>();
  // Whether someone is there to answer a question; the session's, which outlives the host.
  const Presence* presence = &Presence::nobody();
  // Tells the user why a write-back could not be made (the layer's pixels were locked meanwhile),
  // while someone is looking; null: standard error alone.
  std::function<void(const std::string&)> tell;
  // Asks the user about a layer GIMP changed since the canvas read or wrote it, offering to paint
  // the strokes onto it as it is now when can_repaint; asked only while someone is looking.
  std::function<LayerChangeAnswer(bool can_repaint)> ask_about_change;
  // Tells the user that the layer now has another size than the canvas (text says how) and asks
  // whether to keep painting, to send the painting as a new layer of the image, to save it as a
  // file, or (when can_scale) to paint the strokes onto the layer at its new size, scaled.
  std::function<LayerSizeAnswer(const std::string& text, bool can_scale)> ask_about_size;
  // Asks where to save the painting as a file and writes it there; the path written, or empty
  // when the user cancelled.
  std::function<std::string(const HostImage& painting)> save_as_file;
};

class GimpHost : public Host {
 public:
  // Raises RuntimeError when the drawable is not an RGB layer or channel of a valid image that
  // Tarvo can paint on (unpaintable_reason).
  explicit GimpHost(GimpHostOptions options);

  int32_t Wik_GetPaperWidth() override;
  int32_t wik_GetPaperHeight() override;
  Plane Wik_GetPaper() override;
  int32_t Wik_BufferWidth() override;
  int32_t Wik_BufferHeight() override;
  Plane Wik_GetRBuffer() override;
  Plane Wik_GetGBuffer() override;
  Plane Wik_GetBBuffer() override;
  void Wik_SaveUndo() override;
  // The set calls note the planes; wik_Refresh writes them, so they must live until it returns
  // (the write-back calls them one after another with the program's own planes).
  void Wik_SetRbuffer(const Plane& plane) override;
  void Wik_SetGbuffer(const Plane& plane) override;
  void Wik_SetBbuffer(const Plane& plane) override;
  void wik_Refresh() override;
  std::string Wik_WallpaperFilename() override;
  void Wik_SendFormObject(CanvasWindow& form, int16_t flags) override;
  LayerPlanes layer_planes() override;
  void set_layer_planes(const LayerPlanes& layer) override { pending_layer_ = &layer; }
  std::string host_name() override { return "GIMP"; }
  std::string image_name() override { return "The layer"; }
  void set_can_repaint(bool can) override { can_repaint_ = can; }
  std::string colour_profile() override;
  bool asks_about_size() override { return true; }
  bool holds_other_than_sent() override { return written_in_part_; }

  // Runs when a call finds the drawable or GIMP gone, with what is gone, before the call raises
  // ImageNotWritten.
  void set_lost_hook(std::function<void(const std::string&)> hook) { lost_ = std::move(hook); }
  // Whether the drawable is still there (false once GIMP is gone). Asks GIMP.
  bool drawable_alive();

 private:
  void check_alive(const char* method);
  [[noreturn]] void lose(const std::string& what, const char* method);
  void load_paper();
  // Replaces the fetched planes by the start_from picture, once.
  void take_start_picture(Plane& red, Plane& green, Plane& blue);
  // The start_from picture when it has another size than the layer (the layer was scaled since
  // it was painted): the canvas opens on it at its own size, and is told so.
  bool start_picture_of_other_size();
  struct StripWriter;
  void write_back(const Plane& red, const Plane& green, const Plane& blue,
                  const LayerPlanes* layer);
  // Whether any pixel of the rectangle differs from what the last fetch handed out.
  bool painted_anywhere(const Plane& red, const Plane& green, const Plane& blue,
                        const LayerPlanes* layer, int32_t x, int32_t y, int32_t columns,
                        int32_t rows);
  // Writes rows [top, top + count) of the selection's rectangle into the shadow buffer: the
  // painted pixels from the canvas, every other one as the layer holds it.
  void write_strip(StripWriter& writer, int32_t top, int32_t count, bool base_fits);
  // Reads what the layer holds in the rectangle into the record of what the canvas started from.
  void read_back_base(int32_t x, int32_t y, int32_t columns, int32_t rows);
  // Merges the shadow buffer into the layer as one undo step and redraws GIMP's displays.
  void merge_as_one_step(int32_t x, int32_t y, int32_t columns, int32_t rows);
  // The layer has another size than the canvas: asks, and adds the painting as a new layer when
  // so chosen; raises ImageNotWritten otherwise.
  void resized_in_gimp(const Plane& red, const Plane& green, const Plane& blue,
                       const LayerPlanes* layer, int32_t width, int32_t height);
  // Adds the painting to the image as a new layer of its own size; false when GIMP refused.
  bool add_as_new_layer(const HostImage& painting);
  // The hashes of the layer's bands of rows from top (inclusive) to bottom, as GIMP holds them.
  std::vector<uint64_t> band_hashes(int32_t top, int32_t bottom);
  // The bands of rows [y, y + rows) again, after a write.
  void rehash_bands(int32_t y, int32_t rows);
  // Asks about a layer changed in GIMP since the canvas read or wrote it; returns when the write
  // goes on, true when it overwrites GIMP's changes (base_ then holds the layer as it is now), and
  // raises otherwise.
  bool check_unchanged();
  // Where row y, column x of the last fetch's pixels lies in base_.
  uint8_t* base_row(int32_t y, int32_t x) { return base_.row(y) + static_cast<std::size_t>(x) * 3; }
  uint8_t* base_own_row(int32_t y, int32_t x) {
    return base_own_.row(y) + static_cast<std::size_t>(x) * 3;
  }

  GimpHostOptions options_;
  std::function<void(const std::string&)> lost_;
  // The pixels handed out by the last fetch, three bytes (R, G, B) a pixel, row after row: what
  // the canvas started from, so that a write-back can tell which pixels were painted.
  Plane base_;
  // For a layer whose alpha the canvas paints, the pixels' own colours (laid out as base_) and
  // alpha (a byte a pixel) as the last fetch handed them out; empty otherwise.
  Plane base_own_, base_alpha_;
  int32_t base_width_ = 0, base_height_ = 0;
  Plane ready_green_, ready_blue_;
  const Plane* pending_[3] = {nullptr, nullptr, nullptr};
  const LayerPlanes* pending_layer_ = nullptr;
  Plane paper_;
  // The layer as the canvas last read or wrote it: a hash of each band of kBandRows rows.
  std::vector<uint64_t> bands_;
  bool can_repaint_ = false;
  bool written_in_part_ = false;  // the last write-back was cut by a selection
  // The start_from picture when it has another size than the layer, until the first fetch.
  Plane start_red_, start_green_, start_blue_;
  bool start_size_checked_ = false;
  std::string layer_name_;  // as GIMP named the layer when the canvas opened
};

}  // namespace tarvo
