// Result codes of the store's operations.
#pragma once

namespace tarnvel::store_result {

inline constexpr int kOk = 0;
inline constexpr int kDoneWithWarning = 1;  // files the quota could not delete
inline constexpr int kUnreachable = -100;
inline constexpr int kStatementFailed = -101;
inline constexpr int kInsertFailed = -103;
inline constexpr int kUpdateFailed = -104;
inline constexpr int kDeleteFailed = -105;
inline constexpr int kNoRowUpdated = -106;
inline constexpr int kFileOpenFailed = -107;
inline constexpr int kCssWriteFailed = -108;
inline constexpr int kFileWriteFailed = -109;  // a short or failed write of a waveform file
inline constexpr int kRateNotStorable = -110;  // a rate FILELIST's SPS cannot carry (below 0.005)
inline constexpr int kEmptySpan = -112;
inline constexpr int kUnknownOption = -113;
inline constexpr int kNotInSiteChan = -115;
inline constexpr int kSiteChanRateDiffers = -116;

}  // namespace tarnvel::store_result
