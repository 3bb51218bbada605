// The tools' picture reader (JPEG, PNG, PPM and PGM told apart by their first
// bytes): any bytes give a picture within the side limit whose every byte is
// readable, or a message naming the file; a picture beyond the limit is
// refused as too large, and only such a one.

#include <string>

#include "fuzz/fuzz_support.h"
#include "media/picture_file.h"

// The side limit the target reads with: pictures as large as the tools take
// (8192 a side) would only measure the allocator and the time limit, and the
// refusal is the same code whatever the limit.
constexpr int SIDE_MAX = 1024;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::scratchPath("picture");
    fuzz::writeScratch(path, data, size);
    RgbImage image;
    std::string error;
    if (readPicture(path, image, error, SIDE_MAX) != 0) {
        fuzz::require(error.starts_with(path + ": ") || error.starts_with("cannot open " + path),
                      "a refusal names the file");
        fuzz::require(image.width == 0 && image.height == 0 && image.rgb.empty(),
                      "a refused picture is empty");
        const size_t large = error.find(": the picture is ");
        if (large != std::string::npos) {
            long long width = 0, height = 0;
            fuzz::require(std::sscanf(error.c_str() + large, ": the picture is %lld x %lld", &width,
                                      &height) == 2 &&
                              (width > SIDE_MAX || height > SIDE_MAX),
                          "only a picture beyond the side limit is refused as too large");
        }
        return 0;
    }
    fuzz::require(error.empty(), "a picture read comes without a message");
    fuzz::require(image.width >= 1 && image.height >= 1 && image.width <= SIDE_MAX &&
                      image.height <= SIDE_MAX,
                  "a picture read is within the side limit");
    fuzz::require(image.rgb.size() == static_cast<size_t>(image.width) * image.height * 3,
                  "three bytes a pixel");
    unsigned sum = 0;
    for (unsigned char byte : image.rgb)
        sum += byte;
    (void)sum;
    return 0;
}
