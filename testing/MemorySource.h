// A disk's logical sectors held in memory, with a fault for any sector:
// the sector source of file-system tests over raw images.
#ifndef D88EXTRACT_TESTING_MEMORYSOURCE_H
#define D88EXTRACT_TESTING_MEMORYSOURCE_H

#include <cstdint>
#include <utility>
#include <vector>

#include "filesystem/FileSystem.h"

namespace d88test {

class MemorySource final : public filesystem::SectorSource {
 public:
  MemorySource(filesystem::Geometry shape, std::vector<std::uint8_t> bytes)
      : shape_(shape), bytes_(std::move(bytes)) {
    bytes_.resize(std::size_t{shape.SectorCount()} * shape.sectorBytes);
    faults_.assign(shape.SectorCount(), filesystem::SectorFault::kNone);
  }
  filesystem::Geometry Shape() const override { return shape_; }
  filesystem::Sector At(std::uint32_t logical) const override {
    return {bytes_.data() + std::size_t{logical} * shape_.sectorBytes, faults_[logical]};
  }
  std::uint8_t* Data(std::uint32_t logical) {
    return bytes_.data() + std::size_t{logical} * shape_.sectorBytes;
  }
  std::vector<filesystem::SectorFault> faults_;

 private:
  filesystem::Geometry shape_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace d88test

#endif
