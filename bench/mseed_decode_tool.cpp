// The reference side of the whole-program benchmarks: decodes every record of a SEED file with
// libmseed, samples included, and prints how many records and samples it found.
//
//   mseed_decode_tool FILE
#include <libmseed.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  MSFileParam* file = nullptr;
  MSRecord* msr = nullptr;
  long long records = 0;
  long long samples = 0;
  double checksum = 0.0;
  int rc;
  while ((rc = ms_readmsr_r(&file, &msr, argv[1], 0, nullptr, nullptr, 1, 1, 0)) == MS_NOERROR) {
    ++records;
    samples += msr->numsamples;
    // Touch the decoded samples so the work cannot be skipped.
    if (msr->numsamples > 0 && msr->sampletype == 'i') {
      checksum += static_cast<const int*>(msr->datasamples)[msr->numsamples - 1];
    }
  }
  ms_readmsr_r(&file, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
  if (rc != MS_ENDOFFILE) {
    std::fprintf(stderr, "libmseed stopped: %s\n", ms_errorstr(rc));
    return 1;
  }
  std::printf("records %lld samples %lld checksum %.0f\n", records, samples, checksum);
  return 0;
}
