#include "tools/common/image_io.h"

#include <jpeglib.h>
#include <png.h>

#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "cli/tool.h"

namespace {

// libjpeg reports fatal errors through error_exit; this one jumps back to the
// call that started the work so the tool can print its own message.
struct JpegErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
    JpegErrorManager* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    longjmp(manager->jump, 1);
}

void jpegOutputMessage(j_common_ptr) {}

int encodeJpegInto(const RgbImage* image, int quality, unsigned char** buffer, unsigned long* size,
                   JpegErrorManager* errors) {
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&errors->base);
    errors->base.error_exit = jpegErrorExit;
    errors->base.output_message = jpegOutputMessage;
    if (setjmp(errors->jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return -1;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, buffer, size);
    cinfo.image_width = static_cast<JDIMENSION>(image->width);
    cinfo.image_height = static_cast<JDIMENSION>(image->height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // Full-resolution colour: markers and test cards have sharp colour edges.
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(image->rgb.data()) +
                       static_cast<size_t>(cinfo.next_scanline) * image->width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

// Compresses `image` as an 8-bit RGB PNG into `bytes`.
int encodePng(const RgbImage& image, std::vector<unsigned char>& bytes, std::string& error) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (png_image_write_get_memory_size(png, size, 0, image.rgb.data(), 0, nullptr) == 0) {
        error = std::string("PNG compression failed (") + png.message + ")";
        return -1;
    }
    bytes.resize(size);
    if (png_image_write_to_memory(&png, bytes.data(), &size, 0, image.rgb.data(), 0, nullptr) ==
        0) {
        error = std::string("PNG compression failed (") + png.message + ")";
        return -1;
    }
    bytes.resize(size);
    return 0;
}

}  // namespace

int encodeJpeg(const RgbImage& image, int quality, std::vector<unsigned char>& bytes,
               std::string& error) {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    JpegErrorManager errors;
    int result = encodeJpegInto(&image, quality, &buffer, &size, &errors);
    if (result == 0) {
        bytes.assign(buffer, buffer + size);
    } else {
        error = std::string("JPEG compression failed (") + errors.message + ")";
    }
    std::free(buffer);
    return result;
}

int writeFileBytes(const std::string& path, const unsigned char* bytes, size_t count,
                   std::string& error) {
    const FileResult written = replaceFile(
        path, [&](std::FILE* file) { return std::fwrite(bytes, 1, count, file) == count; });
    if (written.ok())
        return 0;
    error = writeProblem(path, written);
    return -1;
}

int writeTextFile(const std::string& path, const std::string& text, std::string& error) {
    return writeFileBytes(path, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                          error);
}

int writeImage(const std::string& path, const RgbImage& image, int quality, std::string& error) {
    std::vector<unsigned char> bytes;
    if (hasSuffix(path, ".jpg") || hasSuffix(path, ".jpeg")) {
        if (encodeJpeg(image, quality, bytes, error) != 0) {
            return -1;
        }
    } else if (hasSuffix(path, ".png")) {
        if (encodePng(image, bytes, error) != 0) {
            return -1;
        }
    } else if (hasSuffix(path, ".ppm")) {
        std::string header =
            "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
        bytes.assign(header.begin(), header.end());
        bytes.insert(bytes.end(), image.rgb.begin(), image.rgb.end());
    } else {
        error = path + ": unknown image type (use .jpg, .jpeg, .png or .ppm)";
        return -1;
    }
    return writeFileBytes(path, bytes.data(), bytes.size(), error);
}

bool hasSuffix(const std::string& name, const char* suffix) {
    size_t n = std::strlen(suffix);
    if (name.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        unsigned char a = static_cast<unsigned char>(name[name.size() - n + i]);
        unsigned char b = static_cast<unsigned char>(suffix[i]);
        if (std::tolower(a) != std::tolower(b)) {
            return false;
        }
    }
    return true;
}

bool hasSuffix(const std::string& name, std::initializer_list<const char*> suffixes) {
    for (const char* suffix : suffixes)
        if (hasSuffix(name, suffix))
            return true;
    return false;
}
