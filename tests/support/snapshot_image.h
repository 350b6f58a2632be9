#pragma once
// Snapshot files as the tests see them: the documented byte layout encoded
// and decoded here on its own, without the program's reader and writer, so
// that tests can craft files byte for byte and check what the program
// wrote.
//
//   count u32 @0; per block a 276-byte directory image
//     (file_count u32 @0, link slots @4 @8 @12, path[260] @16)
//   then file_count 284-byte file images
//     (link slot @0, name[260] @4, time_valid u8 @264, fill @265,
//      year month day_of_week day hour minute second ms: u16 @266..@280,
//      fill @282); all little-endian.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ImageTime {
  uint16_t year, month, day_of_week, day, hour, minute, second, milliseconds;
};

struct ImageFile {
  std::string name;
  uint8_t time_valid;
  ImageTime time;
};

struct ImageDir {
  std::string path;
  std::vector<ImageFile> files;
};

using SnapshotImage = std::vector<ImageDir>;

inline void PutLittleEndian(std::string& bytes, std::size_t at, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xFF);
  }
}

inline uint32_t GetLittleEndian(const std::string& bytes, std::size_t at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]))
             << (8 * i);
  }
  return value;
}

// Images with zero in every link slot, fill byte and byte after a string's
// terminator. Strings longer than 259 bytes are written unterminated, so
// that tests can make such files.
inline std::string EncodeSnapshotImage(const SnapshotImage& image) {
  std::string bytes(4, '\0');
  PutLittleEndian(bytes, 0, static_cast<uint32_t>(image.size()), 4);
  for (const ImageDir& dir : image) {
    std::string block(276, '\0');
    PutLittleEndian(block, 0, static_cast<uint32_t>(dir.files.size()), 4);
    block.replace(16, std::min<std::size_t>(dir.path.size(), 260), dir.path.substr(0, 260));
    bytes += block;
    for (const ImageFile& file : dir.files) {
      std::string record(284, '\0');
      record.replace(4, std::min<std::size_t>(file.name.size(), 260), file.name.substr(0, 260));
      record[264] = static_cast<char>(file.time_valid);
      const uint16_t fields[] = {file.time.year, file.time.month, file.time.day_of_week, file.time.day,
                                 file.time.hour, file.time.minute, file.time.second, file.time.milliseconds};
      for (std::size_t i = 0; i < 8; ++i) PutLittleEndian(record, 266 + 2 * i, fields[i], 2);
      bytes += record;
    }
  }
  return bytes;
}

// Decodes bytes that must be exactly one whole snapshot as the program
// writes it: every count covered, nothing after the last block, zeros
// wherever the layout carries no meaning. Returns "" and fills image, or
// says what is wrong.
inline std::string DecodeSnapshotImage(const std::string& bytes, SnapshotImage& image) {
  image.clear();
  auto zeros = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      if (bytes[i] != '\0') return false;
    }
    return true;
  };
  auto string_field = [&](std::size_t at, std::string& out) {
    const std::size_t end = bytes.find('\0', at);
    if (end == std::string::npos || end >= at + 260) return false;
    out = bytes.substr(at, end - at);
    return zeros(end, at + 260);
  };
  if (bytes.size() < 4) return "shorter than its count";
  const uint32_t dir_count = GetLittleEndian(bytes, 0, 4);
  std::size_t at = 4;
  for (uint32_t d = 0; d < dir_count; ++d) {
    const std::string where = "block " + std::to_string(d) + " at " + std::to_string(at);
    if (bytes.size() - at < 276) return where + ": cut short";
    ImageDir dir;
    const uint32_t file_count = GetLittleEndian(bytes, at, 4);
    if (!zeros(at + 4, at + 16)) return where + ": link slots not zero";
    if (!string_field(at + 16, dir.path)) return where + ": path not terminated or not zero-filled";
    at += 276;
    for (uint32_t f = 0; f < file_count; ++f) {
      if (bytes.size() - at < 284) return where + ": file " + std::to_string(f) + " cut short";
      ImageFile file;
      if (!zeros(at, at + 4) || !zeros(at + 265, at + 266) || !zeros(at + 282, at + 284)) {
        return where + ": file " + std::to_string(f) + " link slot or fill not zero";
      }
      if (!string_field(at + 4, file.name)) return where + ": file name not terminated or not zero-filled";
      file.time_valid = static_cast<uint8_t>(bytes[at + 264]);
      uint16_t fields[8];
      for (std::size_t i = 0; i < 8; ++i) fields[i] = static_cast<uint16_t>(GetLittleEndian(bytes, at + 266 + 2 * i, 2));
      file.time = ImageTime{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]};
      dir.files.push_back(file);
      at += 284;
    }
    image.push_back(dir);
  }
  if (at != bytes.size()) return std::to_string(bytes.size() - at) + " bytes after the last block";
  return "";
}

// One line per directory and per file, every field shown, for exact
// comparisons that show any difference readably.
inline std::string DescribeSnapshotImage(const SnapshotImage& image) {
  std::string text;
  for (const ImageDir& dir : image) {
    text += "dir " + dir.path + "\n";
    for (const ImageFile& file : dir.files) {
      char time[96];
      const ImageTime& t = file.time;
      std::snprintf(time, sizeof time, "valid %u: %04u-%02u-%02u (day %u) %02u:%02u:%02u.%03u",
                    file.time_valid, t.year, t.month, t.day, t.day_of_week, t.hour, t.minute, t.second,
                    t.milliseconds);
      text += "  file " + file.name + " " + time + "\n";
    }
  }
  return text;
}
