// Applying an update package next to xdelta3 on the same change of a 20 MB
// module: how long the client takes to rebuild the file (ours: map, write
// "<name>.new", flush it to disk, swap by renames; theirs: `xdelta3 -d`,
// which does not flush, so ours is measured without the flush as well),
// and how large the package is next to `xdelta3 -e -S none`, with the size of
// the signed manifest that travels beside it.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "update_install.h"
#include "update_manifest.h"
#include "update_release.h"
#include "update_server.h"

namespace fs = std::filesystem;
extern char** environ;

namespace {

constexpr size_t kModuleSize = 20u << 20;

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

bool run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Sets the "Olvaro" stamp note of an ELF module held in memory.
void restamp(std::string* module, uint32_t stamp) {
    size_t at = module->find(std::string("Olvaro\0\0", 8));
    if (at == std::string::npos || at + 12 > module->size()) return;
    for (int i = 0; i < 4; ++i) (*module)[at + 8 + i] = char(stamp >> (8 * i));
}

struct Fixture {
    fs::path dir;
    std::string old_module, new_module, package, vcdiff;
    updates::Manifest manifest;
    size_t manifest_header = 0;  // its header lines as sent
    bool ok = false;

    Fixture() {
        dir = fs::temp_directory_path() / ("olvaro-update-bench-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "releases" / "previous");
        fs::create_directories(dir / "client");
        // Real code: this program, then the other modules beside it, over
        // and over, to 20 MB.
        old_module = read_file("/proc/self/exe");
        std::vector<std::string> parts;
        for (const auto& e : fs::directory_iterator(fs::read_symlink("/proc/self/exe").parent_path()))
            if (e.is_regular_file() && e.file_size() > 4096) parts.push_back(read_file(e.path()));
        for (size_t i = 0; old_module.size() < kModuleSize && !parts.empty(); ++i)
            old_module += parts[i % parts.size()];
        old_module.resize(kModuleSize);
        restamp(&old_module, 1700000000);
        // The change: a hundred edits spread over the file, as a rebuild
        // with a few changed functions makes.
        new_module = old_module;
        restamp(&new_module, 1700003600);
        std::mt19937 rng(7);
        for (int i = 0; i < 100; ++i) {
            size_t at = 8192 + rng() % (new_module.size() - 16384);
            size_t n = 1 + rng() % (i % 3 == 0 ? 16 : 256);
            std::string bytes(n, '\0');
            for (char& c : bytes) c = char(rng());
            if (i % 3 == 0)
                new_module.replace(at, n, bytes);
            else if (i % 3 == 1)
                new_module.insert(at, bytes);
            else
                new_module.erase(at, n);
        }
        write_file(dir / "releases" / "previous" / "module.so", old_module);
        write_file(dir / "releases" / "module.so", new_module);
        write_file(dir / "old.so", old_module);
        write_file(dir / "new.so", new_module);
        olvaro::server::ReleaseStore store((dir / "releases").string(), olvaro::server::kDemoUpdateSeed);
        olvaro::server::UpdatePackage signed_package = store.package_for({{"module.so", 1700000000}});
        package = signed_package.body;
        std::string manifest_bytes;
        manifest_header = signed_package.manifest.size() + signed_package.signature.size() +
                          sizeof "X-Olvaro-Manifest: \r\nX-Olvaro-Signature: \r\n" - 1;
        ok = updates::fromBase64(signed_package.manifest, &manifest_bytes) &&
             updates::readManifest(reinterpret_cast<const uint8_t*>(manifest_bytes.data()), manifest_bytes.size(),
                                   &manifest) &&
             !package.empty() && run({"xdelta3", "-e", "-f", "-S", "none", "-s", (dir / "old.so").string(),
                                      (dir / "new.so").string(), (dir / "delta.vcdiff").string()});
        vcdiff = read_file(dir / "delta.vcdiff");
        write_file(dir / "client" / "module.so", old_module);
    }
    ~Fixture() { fs::remove_all(dir); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void counters(benchmark::State& state) {
    Fixture& f = fixture();
    state.counters["package_bytes"] = double(f.package.size());
    state.counters["manifest_bytes"] = double(f.manifest_header);
    state.counters["xdelta3_bytes"] = double(f.vcdiff.size());
    state.counters["size_ratio"] = double(f.package.size()) / double(f.vcdiff.size());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.new_module.size()));
}

// Arg 1: as the client installs, flushed to disk before the renames; arg 0:
// without the flushes, the same work as `xdelta3 -d`.
void BM_ApplyPackage(benchmark::State& state) {
    Fixture& f = fixture();
    bool durable = state.range(0) != 0;
    if (!f.ok) return state.SkipWithError("no package or no xdelta3");
    fs::path client = f.dir / "client";
    for (auto _ : state) {
        updates::InstallOptions options;
        options.durable = durable;
        auto r = updates::installPackage(client.string(), f.manifest, reinterpret_cast<const uint8_t*>(f.package.data()),
                                         f.package.size(), options);
        if (r != updates::InstallResult::Installed) return state.SkipWithError("install failed");
        state.PauseTiming();
        fs::rename(client / "module.so.old", client / "module.so");
        state.ResumeTiming();
    }
    // Once more, untimed, to keep what it built for the check below.
    updates::installPackage(client.string(), f.manifest, reinterpret_cast<const uint8_t*>(f.package.data()),
                            f.package.size());
    fs::rename(client / "module.so", f.dir / "ours.so");
    fs::rename(client / "module.so.old", client / "module.so");
    counters(state);
}

void BM_Xdelta3Decode(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) return state.SkipWithError("no xdelta3");
    for (auto _ : state) {
        if (!run({"xdelta3", "-d", "-f", "-s", (f.dir / "old.so").string(), (f.dir / "delta.vcdiff").string(),
                  (f.dir / "out.so").string()}))
            return state.SkipWithError("xdelta3 -d failed");
    }
    counters(state);
}

// Both rebuild the new module exactly (checked once, outside the timing).
void BM_Check(benchmark::State& state) {
    Fixture& f = fixture();
    bool same = f.ok;
    for (auto _ : state) benchmark::DoNotOptimize(same);
    if (read_file(f.dir / "ours.so") != f.new_module || read_file(f.dir / "out.so") != f.new_module) same = false;
    if (!same) state.SkipWithError("a rebuilt module differs from the release");
    counters(state);
}

}  // namespace

BENCHMARK(BM_ApplyPackage)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Xdelta3Decode)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Check)->Iterations(1);

BENCHMARK_MAIN();
