// The public decode calls: a fresh decoder with the caller's limits, into
// byte vectors or into cv::Mat.
#include "archive/ImageStores.h"
#include "archive/ZefDecode.h"
#include "archive/ZefDecodeMat.h"

namespace zef {

namespace {

template <typename Result, typename Read>
Result Run(const Options& options, Read read) {
  Result result;
  ArchiveDecoder decoder;
  decoder.SetLimits(options.limits);
  decoder.SetDecodeAlpha(options.decodeAlpha);
  if (!read(decoder, result.images)) {
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

DecodeResult WithPixels(DecodeResult result, VectorStore& store) {
  if (result.Ok()) store.MoveInto(result.images);
  return result;
}

MatDecodeResult WithMats(MatDecodeResult result, MatStore& store) {
  if (result.Ok()) {
    store.MoveAlphaInto(result.images);
    result.mats = std::move(store.Mats());
  }
  return result;
}

ImageStore& StoreFor(const Options& options, ImageStore& keeping, CheckStore& checking) {
  if (options.keepPixels) return keeping;
  return checking;
}

}  // namespace

DecodeResult Decode(const uint8_t* data, size_t size, const Options& options) {
  VectorStore store;
  CheckStore check;
  return WithPixels(Run<DecodeResult>(options,
                                      [&](ArchiveDecoder& decoder, std::vector<DecodedImage>& images) {
                                        return decoder.DecodeMemory(data, size, StoreFor(options, store, check),
                                                                    images);
                                      }),
                    store);
}

DecodeResult DecodeFile(const std::string& fileName, const Options& options) {
  VectorStore store;
  CheckStore check;
  return WithPixels(Run<DecodeResult>(options,
                                      [&](ArchiveDecoder& decoder, std::vector<DecodedImage>& images) {
                                        return decoder.DecodeFile(fileName, StoreFor(options, store, check), images);
                                      }),
                    store);
}

MatDecodeResult DecodeMats(const uint8_t* data, size_t size, const Options& options) {
  MatStore store;
  CheckStore check;
  return WithMats(Run<MatDecodeResult>(options,
                                       [&](ArchiveDecoder& decoder, std::vector<DecodedImage>& images) {
                                         return decoder.DecodeMemory(data, size, StoreFor(options, store, check),
                                                                     images);
                                       }),
                  store);
}

MatDecodeResult DecodeMatsFromFile(const std::string& fileName, const Options& options) {
  MatStore store;
  CheckStore check;
  return WithMats(Run<MatDecodeResult>(options,
                                       [&](ArchiveDecoder& decoder, std::vector<DecodedImage>& images) {
                                         return decoder.DecodeFile(fileName, StoreFor(options, store, check), images);
                                       }),
                  store);
}

}  // namespace zef
