// Result codes of the store's operations: 0 done, 1 done with a warning, negative codes for
// failures. The codes are what callers and the driver's exit paths rely on; StoreResultText
// names each of them for debug output.
#pragma once

namespace tarnvel {
namespace store_result {

enum StoreResult : int {
  kOk = 0,
  kDoneWithWarning = 1,  // files the quota could not delete
  kUnreachable = -100,
  kStatementFailed = -101,
  kInsertFailed = -103,
  kUpdateFailed = -104,
  kDeleteFailed = -105,
  kNoRowUpdated = -106,
  kFileOpenFailed = -107,
  kCssWriteFailed = -108,
  kFileWriteFailed = -109,  // a short or failed write of a waveform file
  kRateNotStorable = -110,  // a rate FILELIST's SPS cannot carry (below 0.005)
  kEmptySpan = -112,
  kUnknownOption = -113,
  kNotInSiteChan = -115,
  kSiteChanRateDiffers = -116,
};

// What a result code means, in a few words ("insert into FILELIST failed"); a code that is none
// of the above gives "unknown store result".
const char* StoreResultText(int code);

}  // namespace store_result

using store_result::StoreResult;

}  // namespace tarnvel
