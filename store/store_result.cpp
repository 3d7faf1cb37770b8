#include "store/store_result.h"

namespace tarnvel::store_result {

const char* StoreResultText(int code) {
  switch (code) {
    case kOk:
      return "done";
    case kDoneWithWarning:
      return "done, but old files of the quota could not be deleted";
    case kUnreachable:
      return "database not reachable";
    case kStatementFailed:
      return "statement or query failed";
    case kInsertFailed:
      return "insert into FILELIST failed";
    case kUpdateFailed:
      return "update of FILELIST failed";
    case kDeleteFailed:
      return "delete from FILELIST failed";
    case kNoRowUpdated:
      return "update matched no row";
    case kFileOpenFailed:
      return "waveform file could not be opened";
    case kCssWriteFailed:
      return "CSS output could not be written";
    case kFileWriteFailed:
      return "waveform file could not be written";
    case kRateNotStorable:
      return "sample rate FILELIST cannot hold";
    case kEmptySpan:
      return "segment end not after its start";
    case kUnknownOption:
      return "unknown option key";
    case kNotInSiteChan:
      return "channel not in SITECHAN";
    case kSiteChanRateDiffers:
      return "SITECHAN rate differs";
    default:
      return "unknown store result";
  }
}

}  // namespace tarnvel::store_result
