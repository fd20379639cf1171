#include "testing/D88Builder.h"

#include <fstream>
#include <iterator>

namespace d88test {

namespace {

void Put16(Bytes& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& out, std::size_t at, std::uint32_t v) {
  Put16(out, at, v);
  Put16(out, at + 2, v >> 16);
}

constexpr std::size_t kHeaderSize = 0x2B0;

}  // namespace

const Medium k2DD = {0x10, 2, 512, 160, 9, 3, 1536, 4};
const Medium k2HD = {0x20, 3, 1024, 154, 8, 2, 2048, 3};

Record MakeRecord(int c, int h, int r, int n, int sectorCount, Bytes data) {
  Record rec;
  rec.c = static_cast<std::uint8_t>(c);
  rec.h = static_cast<std::uint8_t>(h);
  rec.r = static_cast<std::uint8_t>(r);
  rec.n = static_cast<std::uint8_t>(n);
  rec.sectorCount = static_cast<std::uint16_t>(sectorCount);
  rec.dataLength = static_cast<std::uint16_t>(data.size());
  rec.data = std::move(data);
  return rec;
}

Bytes Image::Build() const {
  Bytes out(kHeaderSize, 0);
  for (std::size_t i = 0; i < name.size() && i < 16; ++i) {
    out[i] = static_cast<std::uint8_t>(name[i]);
  }
  out[27] = mediaType;
  for (const auto& [track, records] : tracks) {
    if (track >= 0 && track < 164) Put32(out, 32 + 4 * track, static_cast<std::uint32_t>(out.size()));
    for (const Record& rec : records) {
      const std::size_t at = out.size();
      out.resize(at + 16, 0);
      out[at] = rec.c;
      out[at + 1] = rec.h;
      out[at + 2] = rec.r;
      out[at + 3] = rec.n;
      Put16(out, at + 4, rec.sectorCount);
      out[at + 8] = rec.status;
      Put16(out, at + 14, rec.dataLength);
      out.insert(out.end(), rec.data.begin(), rec.data.end());
    }
  }
  out.insert(out.end(), extra.begin(), extra.end());
  for (const auto& [track, offset] : trackOffsetOverride) Put32(out, 32 + 4 * track, offset);
  Put32(out, 28, sizeField ? *sizeField : static_cast<std::uint32_t>(out.size()));
  return out;
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Image FormatDisk(const Medium& medium, const Bytes& contents) {
  Image image;
  image.name = "D88EXTRACT TEST";
  image.mediaType = medium.mediaType;
  std::size_t at = 0;
  for (int t = 0; t < medium.tracks; ++t) {
    std::vector<Record>& records = image.tracks[t];
    for (int r = 1; r <= medium.sectorsPerTrack; ++r) {
      Bytes data(static_cast<std::size_t>(medium.sectorBytes), 0);
      for (std::size_t i = 0; i < data.size() && at + i < contents.size(); ++i) {
        data[i] = contents[at + i];
      }
      at += data.size();
      records.push_back(MakeRecord(t >> 1, t & 1, r, medium.sizeCode, medium.sectorsPerTrack,
                                   std::move(data)));
    }
  }
  return image;
}

Image FirstTracks(Image image, int count) {
  image.tracks.erase(image.tracks.lower_bound(count), image.tracks.end());
  return image;
}

Bytes EntryBytes(const std::string& name, std::uint16_t location, std::int32_t size) {
  Bytes out(10, ' ');
  for (std::size_t i = 0; i < name.size() && i < 4; ++i) out[i] = static_cast<std::uint8_t>(name[i]);
  Put16(out, 4, location);
  Put32(out, 6, static_cast<std::uint32_t>(size));
  return out;
}

DiskBuilder::DiskBuilder(const Medium& medium)
    : medium_(medium),
      contents_(static_cast<std::size_t>(medium.DiskBytes()), 0),
      nextSector_(medium.directorySector - 1 + medium.directoryBytes / medium.sectorBytes) {}

std::uint16_t DiskBuilder::LocationOf(int p) const {
  const int track = p / medium_.sectorsPerTrack;
  const int sector = p % medium_.sectorsPerTrack;
  return static_cast<std::uint16_t>((track << medium_.locationShift) | sector);
}

void DiskBuilder::AddEntry(const Bytes& entry) {
  const std::size_t at = static_cast<std::size_t>(medium_.directorySector - 1) *
                             static_cast<std::size_t>(medium_.sectorBytes) +
                         static_cast<std::size_t>(nextEntry_) * 10;
  for (std::size_t i = 0; i < entry.size() && i < 10; ++i) contents_[at + i] = entry[i];
  ++nextEntry_;
}

std::uint16_t DiskBuilder::AddFile(const std::string& name, const Bytes& data) {
  const std::uint16_t location = LocationOf(nextSector_);
  const std::size_t at = static_cast<std::size_t>(nextSector_) * medium_.sectorBytes;
  for (std::size_t i = 0; i < data.size() && at + i < contents_.size(); ++i) {
    contents_[at + i] = data[i];
  }
  nextSector_ += static_cast<int>((data.size() + medium_.sectorBytes - 1) / medium_.sectorBytes);
  AddEntry(EntryBytes(name, location, static_cast<std::int32_t>(data.size())));
  return location;
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace d88test
