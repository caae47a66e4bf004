// Renders a file of raw BGRA frames through the pipeline with one record and
// prints the frame rate, for comparison with other programs on the same input.
//
//   pipeline_run WIDTH HEIGHT INPUT.bgra [light|typical|heavy] [OUTPUT.bgra]
//
// TARVO_THREADS=N runs the stages in row bands on N threads (0: one per core;
// default 1); the output is the same for any N.
//
// Frames are read one at a time, as a streaming program would; the time
// counted covers reading and processing (and writing, when an output is
// given), as processor time of the process and as wall time.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_records.h"

int main(int argc, char** argv) {
  using namespace tarvo;
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT INPUT.bgra [light|typical|heavy] [OUTPUT.bgra]\n", argv[0]);
    return 2;
  }
  const int w = std::atoi(argv[1]), h = std::atoi(argv[2]);
  if (w <= 0 || h <= 0 || w > kMaxFrameWidth) {
    std::fprintf(stderr, "bad frame size %s x %s\n", argv[1], argv[2]);
    return 2;
  }
  const std::string recordName = argc > 4 ? argv[4] : "typical";
  TSpecs specs;
  if (!bench::RecordByName(recordName, specs)) {
    std::fprintf(stderr, "unknown record '%s' (light, typical, heavy)\n", recordName.c_str());
    return 2;
  }
  std::FILE* in = std::fopen(argv[3], "rb");
  if (!in) {
    std::perror(argv[3]);
    return 1;
  }
  std::FILE* out = nullptr;
  if (argc > 5 && !(out = std::fopen(argv[5], "wb"))) {
    std::perror(argv[5]);
    return 1;
  }
  const size_t frameBytes = static_cast<size_t>(w) * h * 4;
  std::vector<uint8_t> src(frameBytes), dst(frameBytes);
  const char* threadsEnv = std::getenv("TARVO_THREADS");
  const int threads = threadsEnv ? std::atoi(threadsEnv) : 1;
  bench::Renderer renderer(specs, kOpFinal, threads);
  int frames = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  while (std::fread(src.data(), 1, frameBytes, in) == frameBytes) {
    renderer.Render(src.data(), dst.data(), w, h);
    if (out && std::fwrite(dst.data(), 1, frameBytes, out) != frameBytes) {
      std::perror(argv[5]);
      return 1;
    }
    ++frames;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::fclose(in);
  if (out && std::fclose(out) != 0) {
    std::perror(argv[5]);
    return 1;
  }
  if (frames == 0) {
    std::fprintf(stderr, "%s holds no whole %d x %d frame\n", argv[3], w, h);
    return 1;
  }
  // Processor time is what counts on a shared machine; wall time for
  // reference.
  const int used = renderer.pipeline().Threads();
  std::printf("%d frames, %.3f s processor time: %.2f fps; %.3f s wall: %.2f fps (record %s, %dx%d, %d thread%s)\n",
              frames, cpuSeconds, frames / cpuSeconds, seconds, frames / seconds, recordName.c_str(), w, h, used,
              used >= 2 ? "s" : "");
  return 0;
}
