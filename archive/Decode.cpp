// The public decode calls: a fresh decoder with the caller's limits, into
// byte vectors or into cv::Mat, or into nothing when only a check is asked.
#include "archive/ImageStores.h"
#include "archive/ZefDecode.h"
#include "archive/ZefDecodeMat.h"

namespace zef {

namespace {

void TakeImages(DecodeResult& result, VectorStore& store) { store.MoveInto(result.images); }

void TakeImages(MatDecodeResult& result, MatStore& store) {
  store.MoveAlphaInto(result.images);
  result.mats = std::move(store.Mats());
}

template <typename Result, typename Store, typename Read>
Result Run(const Options& options, Read read) {
  Result result;
  Store keeping;
  CheckStore checking;
  ImageStore& store = options.keepPixels ? static_cast<ImageStore&>(keeping) : checking;
  ArchiveDecoder decoder;
  decoder.SetLimits(options.limits);
  decoder.SetDecodeAlpha(options.decodeAlpha);
  if (read(decoder, store, result.images)) {
    TakeImages(result, keeping);
  } else {
    result.error = decoder.ErrorCode();
    result.message = decoder.GetError();
    if (result.message.empty()) {  // there was no room even for the text
      result.error = Error::kOutOfMemory;
      result.message = "out of memory";
    }
  }
  result.info = decoder.Info();
  return result;
}

auto FromMemory(const uint8_t* data, size_t size) {
  return [=](ArchiveDecoder& decoder, ImageStore& store, std::vector<DecodedImage>& images) {
    return decoder.DecodeMemory(data, size, store, images);
  };
}

auto FromFile(const std::string& fileName) {
  return [&fileName](ArchiveDecoder& decoder, ImageStore& store, std::vector<DecodedImage>& images) {
    return decoder.DecodeFile(fileName, store, images);
  };
}

}  // namespace

DecodeResult Decode(const uint8_t* data, size_t size, const Options& options) {
  return Run<DecodeResult, VectorStore>(options, FromMemory(data, size));
}

DecodeResult DecodeFile(const std::string& fileName, const Options& options) {
  return Run<DecodeResult, VectorStore>(options, FromFile(fileName));
}

MatDecodeResult DecodeMats(const uint8_t* data, size_t size, const Options& options) {
  return Run<MatDecodeResult, MatStore>(options, FromMemory(data, size));
}

MatDecodeResult DecodeMatsFromFile(const std::string& fileName, const Options& options) {
  return Run<MatDecodeResult, MatStore>(options, FromFile(fileName));
}

}  // namespace zef
