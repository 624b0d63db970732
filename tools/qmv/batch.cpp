#include "tools/qmv/batch.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "tools/qmv/file_format.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/report.hpp"

namespace qmv::cli {
namespace {

namespace fs = std::filesystem;

// How bad a status is: a bad command line, then a file that failed, then cells given up.
int severity(int status) {
  switch (status) {
    case 0:
      return 0;
    case kGaveUpStatus:
      return 1;
    case 2:
      return 3;
    default:
      return 2;
  }
}

int worse(int a, int b) { return severity(b) > severity(a) ? b : a; }

// The files qmv reads by their names, for a folder's listing.
bool listedFile(const fs::path& path) {
  const std::string name = path.filename().string();
  if (name.starts_with('.')) return false;
  const std::string ext = extensionOf(path.string());
  return ext == "csv" || ext == "tsv" || ext == "tab" || ext == "xlsx" || ext == "xlsm";
}

// One file of the batch: where it is read, and its name below the folder it was found in
// (its own name when given itself), which -o DIR keeps.
struct BatchFile {
  std::string path;
  std::string relative;
  uintmax_t bytes = 0;
  std::string error;  ///< a folder that holds none of the files qmv reads
};

bool isFolder(const std::string& path) {
  struct stat info {};
  return path != "-" && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The files of the operands, in order; a folder's sorted by name so that the order is the
// same on every file system. Throws FileError for a folder that cannot be listed.
std::vector<BatchFile> batchFiles(const ApplyRequest& request) {
  std::vector<BatchFile> out;
  for (const std::string& operand : request.files) {
    if (!isFolder(operand)) {
      std::error_code error;
      const uintmax_t size = fs::file_size(operand, error);
      out.push_back({operand, fs::path(operand).filename().string(), error ? 0 : size, {}});
      continue;
    }
    std::vector<BatchFile> found;
    std::error_code error;
    const auto take = [&](const fs::directory_entry& entry) {
      std::error_code ignored;
      if (!entry.is_regular_file(ignored) || !listedFile(entry.path())) return;
      found.push_back({entry.path().string(),
                       fs::relative(entry.path(), operand).string(),
                       entry.file_size(ignored),
                       {}});
    };
    if (request.recursive) {
      fs::recursive_directory_iterator it(operand, error);
      for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        // Hidden folders are left out with their files.
        if (it->is_directory() && it->path().filename().string().starts_with('.')) {
          it.disable_recursion_pending();
          continue;
        }
        take(*it);
      }
    } else {
      fs::directory_iterator it(operand, error);
      for (; !error && it != fs::directory_iterator(); it.increment(error)) take(*it);
    }
    if (error) throw FileError("cannot list " + operand + ": " + error.message());
    if (found.empty()) {
      out.push_back({operand,
                     {},
                     0,
                     "cannot read " + operand + ": the folder holds no CSV, TSV or workbook file" +
                         (request.recursive ? "" : " (-r reads its subfolders too)")});
    }
    std::sort(found.begin(), found.end(),
              [](const BatchFile& a, const BatchFile& b) { return a.relative < b.relative; });
    out.insert(out.end(), found.begin(), found.end());
  }
  return out;
}

// The text -c reads back as `picks`: an entry holding a comma or a quote is quoted.
std::string columnList(const std::vector<std::string>& picks) {
  std::string out;
  for (const std::string& pick : picks) {
    if (!out.empty()) out += ',';
    const bool exclude = pick.starts_with('!');
    const std::string name = exclude ? pick.substr(1) : pick;
    if (exclude) out += '!';
    if (name.find_first_of(",\"") == std::string::npos) {
      out += name;
      continue;
    }
    out += '"';
    for (const char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    out += '"';
  }
  return out;
}

// The request of one pass: the recipe's steps, their cells where they name them.
ApplyRequest passRequest(const ApplyRequest& request, const Recipe& pass) {
  ApplyRequest out = request;
  out.recipe = pass;
  out.operation.clear();
  out.inputs.clear();
  out.unicode = false;
  const RecipeStep& first = pass.steps.front();
  if (!first.columns.empty()) {
    out.columns = columnList(first.columns);
    out.range.reset();
  } else if (first.range) {
    out.range = first.range;
    out.columns.reset();
  }
  return out;
}

// The name of pass k's result in `folder`, with the extension that keeps its format.
std::string passFile(const std::string& folder, std::size_t k, const ApplyRequest& request) {
  std::string ext = extensionOf(request.file.value_or("-"));
  if (ext.empty() || request.file.value_or("-") == "-") ext = request.tabs ? "tsv" : "csv";
  return folder + "/pass" + std::to_string(k) + "." + ext;
}

// One file through the passes of `recipe`, reporting as runApply does.
int applyPasses(const ApplyRequest& request, const Recipe& recipe, ApplyStreams& streams) {
  const std::vector<Recipe> passes = recipePasses(recipe);
  const auto run = [&](const ApplyRequest& one) {
    ApplyStreams each{streams.out, streams.err, streams.progress, {}, streams.inputIsTerminal};
    const int status = applyFile(one, each);
    streams.visited += each.visited;
    streams.changed += each.changed;
    streams.gaveUp += each.gaveUp;
    return status;
  };
  if (passes.size() == 1) return run(passRequest(request, passes.front()));
  if (request.inPlace && request.file.value_or("-") == "-") {
    streams.err << "qmv apply: --in-place: standard input cannot be replaced; give -o OUT\n";
    return 2;
  }
  if (request.typed) {
    streams.err << "qmv apply: --typed runs one removal over a sheet; give one\n";
    return 2;
  }
  std::optional<TemporaryFolder> folder;
  try {
    folder.emplace();
  } catch (const ApplyError& e) {
    streams.err << "qmv apply: " << e.what() << '\n';
    return e.status();
  }
  int status = 0;
  std::string input = request.file.value_or("-");
  for (std::size_t k = 0; k < passes.size(); ++k) {
    ApplyRequest one = passRequest(request, passes[k]);
    if (k > 0) one.file = input;
    if (k + 1 == passes.size()) {
      if (request.inPlace) {
        one.inPlace = false;
        one.output = request.file;
      }
      status = worse(status, run(one));
      break;
    }
    if (request.dryRun) status = worse(status, run(one));  // the listing of this pass
    // The passes between write their whole result, as the input read it, for the next.
    one.output = passFile(folder->path(), k + 1, request);
    one.inPlace = false;
    one.force = false;
    one.dryRun = false;
    one.limit.reset();
    one.quiet = request.quiet || request.dryRun;
    one.outputEncoding.reset();
    one.bom.reset();
    one.guardFormulas = false;
    status = worse(status, run(one));
    if (status != 0 && status != kGaveUpStatus) return status;
    input = *one.output;
  }
  return status;
}

// The result of one file of a batch.
struct FileResult {
  int status = 0;
  std::string out;
  std::string err;
  int64_t visited = 0;
  int64_t changed = 0;
  bool done = false;
};

// Each line "qmv apply: ..." of a file's report as "qmv apply: FILE: ...".
std::string named(const std::string& lines, const std::string& file) {
  std::string out;
  std::size_t from = 0;
  while (from < lines.size()) {
    std::size_t end = lines.find('\n', from);
    end = end == std::string::npos ? lines.size() : end + 1;
    const std::string_view line(lines.data() + from, end - from);
    constexpr std::string_view kPrefix = "qmv apply: ";
    // A reader's message that opens with the file's name already keeps it alone.
    if (line.starts_with(kPrefix) && !line.substr(kPrefix.size()).starts_with(file + ": ")) {
      out += std::string(kPrefix) + file + ": " + std::string(line.substr(kPrefix.size()));
    } else {
      out += line;
    }
    from = end;
  }
  return out;
}

std::string megabytes(uintmax_t bytes) {
  const uintmax_t tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

unsigned jobsOf(const ApplyRequest& request) {
  if (!request.jobs) return std::max(1u, std::thread::hardware_concurrency());
  return static_cast<unsigned>(boundedNumber("-j", *request.jobs, 1, 256, "number of jobs"));
}

Recipe recipeOf(const ApplyRequest& request) {
  if (!request.recipeFile) return requestRecipe(request);
  if (!request.operation.empty() || !request.inputs.empty()) {
    throw UsageError("--recipe: the recipe names the operations and their inputs; give only FILE");
  }
  const std::string text = readWholeFile(*request.recipeFile);
  try {
    return parseRecipe(text);
  } catch (const RecipeError& e) {
    throw UsageError("--recipe " + *request.recipeFile + ": " + e.what());
  }
}

int runFiles(const ApplyRequest& request, const Recipe& recipe, ApplyStreams& streams) {
  if (request.output && *request.output == "-") {
    throw UsageError("-o: several files: give a folder for their results");
  }
  if (!request.output && !request.inPlace && !request.dryRun) {
    throw UsageError("several files: give -o DIR for their results, or --in-place");
  }
  const unsigned jobs = jobsOf(request);
  const std::vector<BatchFile> files = batchFiles(request);
  if (files.size() == 1 && !files.front().error.empty()) throw FileError(files.front().error);
  // The folder is made as results go into it.
  if (request.output && fs::exists(*request.output) && !isFolder(*request.output)) {
    throw FileError("cannot write " + *request.output + ": not a folder");
  }
  std::vector<FileResult> results(files.size());
  std::vector<std::string> targets(files.size());
  // Two files of the batch never write one result, nor is one file run twice at once (in
  // place, the second run would find the first one's lock and fail for no reason of its own).
  std::vector<fs::path> sources(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code ignored;
    sources[i] = fs::weakly_canonical(files[i].path, ignored);
    if (request.output) targets[i] = (fs::path(*request.output) / files[i].relative).string();
    for (std::size_t j = 0; j < i && !results[i].done; ++j) {
      if (sources[j] == sources[i]) {
        results[i] = {2, {}, "qmv apply: given already as " + files[j].path + "\n", 0, 0, true};
      } else if (request.output && targets[j] == targets[i]) {
        results[i] = {
            2, {}, "qmv apply: -o: the result would replace that of " + files[j].path + "\n",
            0, 0,  true};
      }
    }
  }

  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (;;) {
      const std::size_t i = next.fetch_add(1);
      if (i >= files.size()) return;
      FileResult result;
      if (results[i].done) {
        result = results[i];
      } else if (!files[i].error.empty()) {
        result.status = 1;
        result.err = "qmv apply: " + files[i].error + "\n";
      } else {
        std::ostringstream out, err;
        ApplyStreams one{out, err, false, {}, false};
        ApplyRequest each = request;
        each.file = files[i].path;
        each.files = {files[i].path};
        if (request.output) {
          each.output = targets[i];
          std::error_code error;
          fs::create_directories(fs::path(targets[i]).parent_path(), error);
          std::error_code same;
          if (fs::equivalent(files[i].path, targets[i], same)) {
            err << "qmv apply: -o: the result would replace the file itself; give --in-place\n";
            result.status = 2;
          }
        }
        if (result.status == 0) result.status = applyPasses(each, recipe, one);
        result.out = out.str();
        result.err = err.str();
        result.visited = one.visited;
        result.changed = one.changed;
      }
      result.done = true;
      const std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(result);
      finished.notify_one();
    }
  };
  std::vector<std::thread> threads;
  const unsigned started = std::min<unsigned>(jobs, static_cast<unsigned>(files.size()));
  for (unsigned t = 0; t < started; ++t) threads.emplace_back(work);

  // Each file's report in the order given, as soon as the files before it are done.
  const bool bar = streams.progress && !request.quiet;
  uintmax_t allBytes = 0, doneBytes = 0;
  for (const BatchFile& file : files) allBytes += file.bytes;
  int status = 0;
  int failed = 0;
  int64_t visited = 0, changed = 0;
  std::size_t reported = 0, doneFiles = 0;
  std::vector<bool> counted(files.size(), false);
  std::unique_lock<std::mutex> lock(mutex);
  while (reported < files.size()) {
    finished.wait(lock, [&] {
      return std::any_of(results.begin(), results.end(), [&](const FileResult& r) {
        return r.done && !counted[static_cast<std::size_t>(&r - results.data())];
      });
    });
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (results[i].done && !counted[i]) {
        counted[i] = true;
        ++doneFiles;
        doneBytes += files[i].bytes;
      }
    }
    if (bar) streams.err << "\r\033[K";
    while (reported < files.size() && results[reported].done) {
      FileResult& r = results[reported];
      if (!r.out.empty()) streams.out << "# " << files[reported].path << '\n' << r.out;
      streams.err << named(r.err, files[reported].path);
      status = worse(status, r.status);
      if (r.status != 0 && r.status != kGaveUpStatus) ++failed;
      visited += r.visited;
      changed += r.changed;
      r = FileResult{0, {}, {}, 0, 0, true};  // the report is out; its memory goes
      ++reported;
    }
    if (bar && reported < files.size()) {
      streams.err << "qmv apply: " << doneFiles << "/" << files.size() << " files, "
                  << megabytes(doneBytes) << " of " << megabytes(allBytes) << std::flush;
    }
  }
  lock.unlock();
  for (std::thread& thread : threads) thread.join();
  if (!request.quiet) {
    streams.err << "qmv apply: " << withThousands(static_cast<int64_t>(files.size()))
                << (files.size() == 1 ? " file" : " files") << ", " << withThousands(visited)
                << (visited == 1 ? " cell" : " cells") << " visited, " << withThousands(changed)
                << (request.dryRun ? " would change" : " changed");
    if (failed > 0)
      streams.err << "; " << failed << (failed == 1 ? " file" : " files") << " failed";
    streams.err << '\n';
  }
  return status;
}

}  // namespace

bool wantsBatch(const ApplyRequest& request) {
  return request.recipeFile || request.printRecipe || request.jobs || request.recursive ||
         request.files.size() > 1 ||
         std::any_of(request.files.begin(), request.files.end(), isFolder);
}

std::vector<Recipe> recipePasses(const Recipe& recipe) {
  std::vector<Recipe> passes;
  for (const RecipeStep& step : recipe.steps) {
    const bool joins = !passes.empty() && isCharacterOperation(step.operation) &&
                       isCharacterOperation(passes.back().steps.back().operation) &&
                       passes.back().steps.back().columns == step.columns &&
                       passes.back().steps.back().range == step.range &&
                       passes.back().steps.back().rules == step.rules;
    if (!joins) {
      passes.emplace_back();
      passes.back().name = recipe.name;
    }
    passes.back().steps.push_back(step);
  }
  return passes;
}

int runBatch(const ApplyRequest& request, ApplyStreams& streams) {
  int status = 0;
  try {
    const Recipe recipe = recipeOf(request);
    if (request.printRecipe) {
      if (!request.files.empty()) {
        throw UsageError("--print-recipe: writes the recipe and runs nothing; leave out FILE");
      }
      streams.out << recipeJson(recipe);
      streams.out.flush();
      if (!streams.out) throw FileError("cannot write the recipe to standard output");
    } else {
      const bool many = request.files.size() > 1 ||
                        std::any_of(request.files.begin(), request.files.end(), isFolder);
      status = many ? runFiles(request, recipe, streams) : applyPasses(request, recipe, streams);
    }
  } catch (...) {
    const ApplyError failure = failureOf(request.recipeFile.value_or(request.file.value_or("-")));
    streams.err << "qmv apply: " << failure.what() << '\n';
    return failure.status();
  }
  if (streams.finish) streams.finish(status);
  return status;
}

}  // namespace qmv::cli
