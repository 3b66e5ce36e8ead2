// Writes the images, masks and conversion script of the window test:
//   zef_gui_fixture <folder> <image count> <start index>
// Widths are odd so that the half-width source windows show the rounding.
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <folder> <image count> <start index>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  std::ofstream script(folder + "/gui.txt");
  script << "startindex " << argv[3] << "\noutputfilename gui\nmask on\nalphavalues 4\nstartimages\n";
  for (int i = 0; i < count; ++i) {
    const std::string name = "img" + std::to_string(i);
    const int width = 101 + 2 * (i % 3);
    const cv::Mat image(40, width, CV_8UC3, cv::Scalar(40 * (i % 6), 255 - 9 * i, 128));
    cv::Mat mask(40, width, CV_8UC1, cv::Scalar(0));
    mask(cv::Rect(width / 4, 10, width / 2, 20)).setTo(255);
    if (!cv::imwrite(folder + "/" + name + ".png", image) ||
        !cv::imwrite(folder + "/" + name + "_mask.png", mask)) {
      return 1;
    }
    script << name << ".png\n" << name << "_mask.png\n";
  }
  return script.good() ? 0 : 1;
}
