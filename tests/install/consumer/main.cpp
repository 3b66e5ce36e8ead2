// Writes a one-image archive through the installed headers and library and
// reads it back: every public header must compile on its own.
#include <archive/ZefFormat.h>
#include <archive/ZefImgReader.h>
#include <writer/ZefImgWriter.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  zef::ZefImgWriter writer;
  writer.SetVersion(zef::kVersion3);
  const cv::Mat image(2, 2, CV_8UC3, cv::Scalar(0, 128, 255));
  if (!writer.Write(argv[1], {image}, {})) {
    std::printf("%s\n", writer.GetError().c_str());
    return 1;
  }
  zef::ZefImgReader reader;
  const auto images = reader.Read(argv[1]);
  if (!images || images->size() != 1 || (*images)[0].size() != image.size()) {
    std::printf("read back: %s\n", reader.GetError().c_str());
    return 1;
  }
  return 0;
}
