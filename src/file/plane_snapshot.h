#pragma once
// A snapshot of colour planes as they lie in memory, for a picture that must be on disk at once
// (a session journal's base): no encoding, only a header before the bytes and a checksum after
// them, so that writing it costs little more than the copy into the file.
//
//   "TVPLANES"                         8 bytes
//   version, columns, rows, planes     four 32-bit little-endian words
//   the planes, one after the other    columns x rows bytes each, spare column and row included
//   checksum of everything before it   version 2: XXH3-64, one 64-bit little-endian word;
//                                      version 1 (still read): CRC-32, one 32-bit word
//
// A file cut short, or changed in any byte, fails its checksum and is not read. A writer holds an
// exclusive lock (flock) on the file until it is whole; a reader waits for that lock first.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/plane.h"

namespace tarvo {

// The first bytes of every snapshot.
inline constexpr std::string_view kPlaneSnapshotMagic = "TVPLANES";

// Where the bytes go: returns false when they could not be written (the write is then abandoned).
using SnapshotSink = std::function<bool(const void* bytes, std::size_t size)>;

// Writes the planes, which must all have the same shape, to sink, a few megabytes at a time.
// Returns the snapshot's checksum as 16 hexadecimal digits, or an empty string when sink failed.
std::string write_plane_snapshot(std::span<const Plane* const> planes, const SnapshotSink& sink);

// The checksum the snapshot of planes has, taken without writing it (a fifth of the time).
std::string plane_snapshot_checksum_of(std::span<const Plane* const> planes);

// Whether bytes (the start of a file) begin a snapshot.
bool is_plane_snapshot(std::span<const uint8_t> start);

// The checksum of the snapshot at path, read and verified from end to end; empty when the file is
// missing, not a snapshot, cut short or damaged.
std::string plane_snapshot_checksum(const std::string& path);

// The shape a snapshot announces.
struct PlaneSnapshotShape {
  int32_t columns = 0, rows = 0, planes = 0;
};

// Reads the snapshot at path into planes, allocated to its shape; its bytes are read straight
// into them. Returns an empty string on success, else why the file cannot
// be read ("it is cut short or damaged"); the planes read so far are then of no use. check may
// refuse the shape (too big for this machine) before anything is allocated: it returns why.
std::string read_plane_snapshot(const std::string& path,
                                const std::function<std::string(PlaneSnapshotShape)>& check,
                                std::vector<Plane>& planes);

}  // namespace tarvo
