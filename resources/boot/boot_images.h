// Boot code assembled from resources/boot/*.asm at build time and carried inside the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fw {

struct EmbeddedBootImage {
  const char* name;  // "USB-HDD+"
  const uint8_t* data;
  size_t size;  // a whole number of 512-byte blocks
};

// The image with that name, or nullptr when the program carries none.
const EmbeddedBootImage* FindEmbeddedBootImage(std::string_view name);

}  // namespace fw
