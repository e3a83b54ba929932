// lkword: extracts the text and metadata of documents with the LKWord readers.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "lkword/platform/CodePages.h"
#include "lkword/platform/Exceptions.h"
#include "tools/lkword/Extract.h"
#include "tools/lkword/Inputs.h"
#include "tools/lkword/Options.h"
#include "lkword/registry/LKWOutput.h"

using namespace lkw;
using namespace lkw::tool;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPassword = 3;

using TClock = std::chrono::steady_clock;

void WriteStderr(const std::string& Text) {
  if (!Text.empty()) std::fwrite(Text.data(), 1, Text.size(), stderr);
}

int UsageError(const std::string& Message) {
  std::fprintf(stderr, "lkword: %s\nTry 'lkword --help' for more information.\n", Message.c_str());
  return kExitUsage;
}

// "[####....] 37/1204  12.3 docs/s  ETA 1:35" on one line of standard error,
// redrawn at most a few times a second; only on a terminal, and not when the
// text itself goes to that terminal.
class TProgress {
 public:
  TProgress(size_t Total, bool Enabled) : FTotal(Total), FEnabled(Enabled), FStart(TClock::now()) {}
  ~TProgress() { Clear(); }

  void Update(size_t Done) {
    if (!FEnabled) return;
    const auto now = TClock::now();
    if (now - FLastDraw < std::chrono::milliseconds(200)) return;
    FLastDraw = now;
    const double seconds = std::chrono::duration<double>(now - FStart).count();
    const double rate = seconds > 0 ? static_cast<double>(Done) / seconds : 0;
    char eta[32] = "--:--";
    if (rate > 0) {
      const long left = std::lround(static_cast<double>(FTotal - Done) / rate);
      std::snprintf(eta, sizeof eta, "%ld:%02ld", left / 60, left % 60);
    }
    constexpr int kBar = 24;
    const int filled = FTotal ? static_cast<int>(kBar * Done / FTotal) : kBar;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kBar, '.');
    std::fprintf(stderr, "\r[%s] %zu/%zu  %.1f docs/s  ETA %s\033[K", bar.c_str(), Done, FTotal, rate, eta);
    std::fflush(stderr);
    FShown = true;
  }

  // Takes the line away so that a message can be written in its place.
  void Clear() {
    if (!FShown) return;
    std::fputs("\r\033[K", stderr);
    FShown = false;
  }

 private:
  size_t FTotal;
  bool FEnabled;
  bool FShown = false;
  TClock::time_point FStart;
  TClock::time_point FLastDraw;
};

struct TTally {
  size_t Done = 0;
  size_t Failed = 0;
  std::vector<std::string> Skipped;
  TErrorKind LastKind = TErrorKind::None;
  bool LastPartial = false;
};

class TBatch {
 public:
  TBatch(const TToolOptions& Options, std::vector<TInput>& Inputs, bool ToFolder, size_t Jobs)
      : FOptions(Options),
        FInputs(Inputs),
        FToFolder(ToFolder),
        FJobs(Jobs),
        FExtractor(Options),
        FProgress(Inputs.size(), !Options.Quiet && Inputs.size() > 1 && ::isatty(2) &&
                                     !(Options.FilesFrom == "-" && Options.OutputPath.empty()) &&
                                     (ToFolder || !Options.OutputPath.empty() || !::isatty(1))) {}

  // False when the output could not be written (the batch stopped).
  bool Run(TOutputFile* Out) {
    const bool ok = FJobs <= 1 || FInputs.size() <= 1 ? RunInTurn(Out) : RunInParallel(Out);
    FProgress.Clear();
    return ok;
  }

  // The inputs so far, then those read from standard input one per line
  // while earlier ones are extracted: each result is written as soon as it
  // and all before it are done, so the tool can serve a queue. Folders on
  // the list are walked as on the command line.
  bool RunStreamed(TOutputFile* Out) {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::optional<TFinished>> finished(FInputs.size());
    bool listEnded = false, stop = false;
    size_t next = 0, nextToWrite = 0;
    // Started but not yet written: bounds the memory of finished outputs.
    const size_t ahead = 4 * FJobs;

    std::thread feeder([&] {
      std::string line;
      for (int c; (c = std::getchar()) != EOF;) {
        if (c != '\n') {
          line += static_cast<char>(c);
          continue;
        }
        Feed(line, mutex, finished);
        changed.notify_all();
        line.clear();
      }
      Feed(line, mutex, finished);
      {
        std::lock_guard lock(mutex);
        listEnded = true;
      }
      changed.notify_all();
    });
    auto worker = [&] {
      for (;;) {
        size_t i;
        TInput input;
        {
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] {
            return stop || (next < FInputs.size() && next < nextToWrite + ahead) || (listEnded && next >= FInputs.size());
          });
          if (stop || next >= FInputs.size()) return;
          i = next++;
          input = FInputs[i];
        }
        TFinished f;
        try {
          TOutputFile buffer(&f.Output);
          f.Result = FExtractor.Run(input, buffer);
        } catch (const std::exception& e) {
          f.Output.clear();
          f.Result = {false, TErrorKind::Limit, MessageLine(input.Path, e.what())};
        }
        {
          std::lock_guard lock(mutex);
          finished[i] = std::move(f);
        }
        changed.notify_all();
      }
    };
    std::vector<std::thread> threads;
    for (size_t t = 0; t < FJobs; ++t) threads.emplace_back(worker);

    bool ok = true;
    for (;;) {
      std::optional<TFinished> f;
      TInput input;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
          return (nextToWrite < finished.size() && finished[nextToWrite]) || (listEnded && nextToWrite >= FInputs.size());
        });
        if (nextToWrite >= FInputs.size()) break;
        f = std::move(finished[nextToWrite]);
        finished[nextToWrite].reset();
        input = FInputs[nextToWrite];
        ++nextToWrite;
      }
      changed.notify_all();
      try {
        Out->Append(f->Output);
        Out->Flush();
      } catch (const Exception& e) {
        WriteStderr(MessageLine(Out->Name(), e.Message()));
        ok = false;
        break;
      }
      Count(f->Result, input);
    }
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    for (auto& t : threads) t.join();
    // The list may still be open when the output failed; the feeder ends
    // with it.
    if (ok) feeder.join(); else feeder.detach();
    return ok;
  }

  const TTally& Tally() const { return FTally; }
  size_t InputCount() const { return FInputs.size(); }

 private:
  struct TFinished {
    TDocResult Result;
    std::string Output;
  };

  // Adds the inputs a line of the list names.
  void Feed(const std::string& Line, std::mutex& Mutex, std::deque<std::optional<TFinished>>& Finished) {
    std::string path = Line;
    if (!path.empty() && path.back() == '\r') path.pop_back();
    if (path.empty()) return;
    bool folder = false;
    std::vector<TInput> more = ExpandInputs({path}, FOptions.Recursive, folder, {FOptions.Include, FOptions.Exclude});
    std::lock_guard lock(Mutex);
    for (TInput& in : more) {
      in.Ordinal = FInputs.size();
      FInputs.push_back(std::move(in));
      Finished.emplace_back();
    }
  }

  TDocResult RunOne(const TInput& Input, TOutputFile* Out) {
    if (FToFolder) return FExtractor.RunToFolder(Input, FOptions.OutputPath);
    return FExtractor.Run(Input, *Out);
  }

  void Count(const TDocResult& R, const TInput& Input) {
    if (R.Skipped) FTally.Skipped.push_back(Input.Path);
    if (!R.Messages.empty()) {
      FProgress.Clear();
      WriteStderr(R.Messages);
    }
    ++FTally.Done;
    if (!R.Ok) {
      ++FTally.Failed;
      FTally.LastKind = R.Kind;
      FTally.LastPartial = R.Partial;
    }
    // Documents finished behind the one being waited for count as done.
    FProgress.Update(std::max(FTally.Done, FCompleted.load()));
  }

  // One document after the other: output streams straight to its target.
  bool RunInTurn(TOutputFile* Out) {
    for (const TInput& input : FInputs) {
      try {
        Count(RunOne(input, Out), input);
      } catch (const Exception& e) {
        // Only the output fails here; later inputs could not be written either.
        FProgress.Clear();
        WriteStderr(MessageLine(Out->Name(), e.Message()));
        return false;
      }
    }
    return true;
  }

  // Workers extract into buffers (or their own files); this thread writes
  // the buffers in input order. Within a look-ahead of the inputs not yet
  // written, the largest goes first: a large document met last would run
  // alone while the other workers idle. Finished outputs wait for their turn
  // as long as what waits stays below 256 MiB; beyond that, workers take only
  // the input the writing waits for.
  bool RunInParallel(TOutputFile* Out) {
    const size_t window = std::max<size_t>(1024, 64 * FJobs);
    constexpr size_t kMaxWaiting = size_t{256} << 20;
    size_t waiting = 0;  // bytes of finished outputs not yet written
    std::vector<std::optional<TFinished>> finished(FInputs.size());
    std::vector<bool> taken(FInputs.size());
    // Inputs in the look-ahead, largest first, earlier first among equals;
    // entries already taken are dropped as they come up.
    auto later = [this](size_t A, size_t B) {
      return FInputs[A].Size != FInputs[B].Size ? FInputs[A].Size < FInputs[B].Size : A > B;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> queue(later);
    std::mutex mutex;
    std::condition_variable ready, room;
    size_t admitted = 0, left = FInputs.size(), nextToWrite = 0;
    bool stop = false;

    // Under the lock: the next input to take, or npos to wait.
    auto pick = [&]() -> size_t {
      for (; admitted < FInputs.size() && admitted < nextToWrite + window; ++admitted) queue.push(admitted);
      if (waiting >= kMaxWaiting) return nextToWrite < FInputs.size() && !taken[nextToWrite] ? nextToWrite : npos;
      while (!queue.empty() && taken[queue.top()]) queue.pop();
      if (queue.empty()) return npos;
      const size_t i = queue.top();
      queue.pop();
      return i;
    };

    auto worker = [&] {
      for (;;) {
        size_t i = npos;
        {
          std::unique_lock lock(mutex);
          room.wait(lock, [&] { return stop || left == 0 || (i = pick()) != npos; });
          if (stop || left == 0) return;
          taken[i] = true;
          --left;
        }
        TFinished f;
        try {
          if (FToFolder) {
            f.Result = FExtractor.RunToFolder(FInputs[i], FOptions.OutputPath);
          } else {
            TOutputFile buffer(&f.Output);
            f.Result = FExtractor.Run(FInputs[i], buffer);  // memory does not fail to write
          }
        } catch (const std::exception& e) {
          // Out of memory while writing the record: this input fails, the
          // thread and the batch go on.
          f.Output.clear();
          f.Result = {false, TErrorKind::Limit, MessageLine(FInputs[i].Path, e.what())};
        }
        {
          std::lock_guard lock(mutex);
          waiting += f.Output.size();
          finished[i] = std::move(f);
          ++FCompleted;
        }
        ready.notify_one();
      }
    };
    std::vector<std::thread> threads;
    for (size_t t = 0; t < FJobs; ++t) threads.emplace_back(worker);

    bool ok = true;
    while (nextToWrite < FInputs.size()) {
      std::optional<TFinished> f;
      {
        std::unique_lock lock(mutex);
        // Waking now and then keeps the progress bar's rate and ETA moving
        // while a large document holds up the queue.
        if (!ready.wait_for(lock, std::chrono::milliseconds(250), [&] { return finished[nextToWrite].has_value(); })) {
          const size_t completed = FCompleted;
          lock.unlock();
          FProgress.Update(completed);
          continue;
        }
        f = std::move(finished[nextToWrite]);
        finished[nextToWrite].reset();
        waiting -= f->Output.size();
        ++nextToWrite;
      }
      room.notify_all();
      if (!FToFolder) {
        try {
          Out->Append(f->Output);
          Out->Flush();
        } catch (const Exception& e) {
          FProgress.Clear();
          WriteStderr(MessageLine(Out->Name(), e.Message()));
          ok = false;
          break;
        }
      }
      Count(f->Result, FInputs[nextToWrite - 1]);
    }
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    room.notify_all();
    for (auto& t : threads) t.join();
    return ok;
  }

  const TToolOptions& FOptions;
  std::vector<TInput>& FInputs;
  bool FToFolder;
  size_t FJobs;
  TExtractor FExtractor;
  TProgress FProgress;
  TTally FTally;
  static constexpr size_t npos = static_cast<size_t>(-1);
  std::atomic<size_t> FCompleted{0};  // finished by the workers, written or not
};

const char* OutputExtension(const TToolOptions& O) {
  if (O.Json) return ".json";
  switch (O.Format) {
    case tfRTF: return ".rtf";
    case tfHTML: return ".html";
    case tfMarkdown: return ".md";
    case tfPlainText: break;
  }
  return ".txt";
}

}  // namespace

namespace {

// Inputs are mapped, not read: one cut short while it is read faults on the
// pages it lost. Say so and fail rather than dump core.
void OnBusError(int) {
  static const char kMessage[] = "lkword: an input was cut short while it was being read\n";
  if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
    // Nothing more can be done from a signal handler.
  }
  ::_exit(kExitFailed);
}

}  // namespace

int main(int argc, char** argv) {
  const auto started = TClock::now();
  TToolOptions options;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, error)) return UsageError(error);
  if (options.ShowHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
  }
  if (options.ShowVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
  }

  struct sigaction busError {};
  busError.sa_handler = OnBusError;
  sigemptyset(&busError.sa_mask);
  sigaction(SIGBUS, &busError, nullptr);

  // The ANSI code page decodes 8-bit document text. It is fixed here rather
  // than taken from the environment, so output does not depend on the locale.
  SetActiveCodePage(1252);

  std::vector<std::string> args = options.Files;
  if (options.FilesFrom == "-" && std::find(args.begin(), args.end(), "-") != args.end())
    return UsageError("standard input cannot be both a document and the list of inputs");
  // A list on standard input is read while the documents are extracted,
  // unless outputs go to a folder, whose names are chosen over all inputs.
  const bool streamed = options.FilesFrom == "-" && options.OutputPath.empty();
  if (!options.FilesFrom.empty() && !streamed) {
    try {
      ReadFileList(options.FilesFrom, args);
    } catch (const Exception& e) {
      WriteStderr(MessageLine(options.FilesFrom, e.Message()));
      return kExitFailed;
    }
  }
  bool folderGiven = false;
  std::vector<TInput> inputs = ExpandInputs(args, options.Recursive, folderGiven, {options.Include, options.Exclude});
  for (size_t i = 0; i < inputs.size(); ++i) inputs[i].Ordinal = i;
  const bool several = args.size() > 1 || folderGiven || streamed;
  if (several && !options.CoverPath.empty()) return UsageError("--cover needs a single input");
  const bool toFolder = several && !options.OutputPath.empty();
  if (toFolder) AssignOutputNames(inputs, OutputExtension(options));
  options.Headers = several && !toFolder && !options.Json && !options.NoHeaders;

  std::unique_ptr<TOutputFile> out;
  if (!toFolder) {
    try {
      out = std::make_unique<TOutputFile>(options.OutputPath);
    } catch (const Exception& e) {
      WriteStderr(MessageLine(options.OutputPath, e.Message()));
      return kExitFailed;
    }
  }

  size_t jobs = options.Jobs > 0 ? static_cast<size_t>(options.Jobs) : std::max(1u, std::thread::hardware_concurrency());
  jobs = std::min(jobs, std::max<size_t>(inputs.size(), 1));
  if (streamed) jobs = options.Jobs > 0 ? static_cast<size_t>(options.Jobs) : std::max(1u, std::thread::hardware_concurrency());
  TBatch batch(options, inputs, toFolder, jobs);
  const bool written = streamed ? batch.RunStreamed(out.get()) : batch.Run(out.get());
  const TTally& tally = batch.Tally();

  if (inputs.size() > 1 && !options.Quiet) {
    const double seconds = std::chrono::duration<double>(TClock::now() - started).count();
    const size_t skipped = tally.Skipped.size();
    std::string skips;
    if (skipped > 0) {
      // A few names show what was passed over without a line per file.
      constexpr size_t kNamesShown = 5;
      skips = ", " + std::to_string(skipped) + " skipped as no document (";
      for (size_t i = 0; i < std::min(skipped, kNamesShown); ++i) skips += (i ? ", " : "") + tally.Skipped[i];
      if (skipped > kNamesShown) skips += ", ...";
      skips += ")";
    }
    std::fprintf(stderr, "lkword: %zu inputs, %zu done, %zu failed%s, %.2f s\n", inputs.size(),
                 tally.Done - tally.Failed - skipped, tally.Failed, skips.c_str(), seconds);
  }
  // An output file of a document that could not be read would pass for its
  // text, as in a folder of outputs; a partial result and a JSON record of
  // the failure are kept.
  if (!toFolder && !options.OutputPath.empty() && tally.Failed > 0 && !tally.LastPartial &&
      (!options.Json || tally.LastKind == TErrorKind::IO)) {
    out.reset();
    // Only a file of its own: not a device, a pipe or a link someone set.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(options.OutputPath, ignored)))
      std::filesystem::remove(options.OutputPath, ignored);
  }
  if (!written) return kExitFailed;
  if (tally.Failed == 0) return kExitOk;
  if (inputs.size() == 1 && !several && tally.LastKind == TErrorKind::Password) return kExitPassword;
  return kExitFailed;
}
