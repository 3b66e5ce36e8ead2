// Reads one archive with nothing but the archive library and the image
// library's core linked, so that bench/run can measure the whole peak memory
// of a read as a program that only reads archives would have it.
#include <cstdio>

#include "archive/ZefImgReader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zef_read_peak ARCHIVE\n");
    return 2;
  }
  zef::ZefImgReader reader;
  const auto images = reader.Read(argv[1]);
  if (!images) {
    std::fprintf(stderr, "%s\n", reader.GetError().c_str());
    return 1;
  }
  size_t decodedBytes = 0;
  for (const cv::Mat& image : *images) decodedBytes += image.total() * image.elemSize();
  std::printf("decoded_bytes %zu\n", decodedBytes);
  return 0;
}
