// MD5 over a 5 MiB transfer buffer: ours beside OpenSSL's on the same bytes.
#include "core/md5.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#if __has_include(<openssl/evp.h>)
#include <openssl/evp.h>
#define ZEM_HAVE_OPENSSL 1
#endif

namespace {

constexpr size_t kBufSize = 5 * 1024 * 1024;

const std::vector<uint8_t>& buffer() {
    static const std::vector<uint8_t> buf = [] {
        std::vector<uint8_t> b(kBufSize);
        uint32_t x = 0x12345678;
        for (auto& byte : b) {
            x = x * 1103515245 + 12345;
            byte = uint8_t(x >> 16);
        }
        return b;
    }();
    return buf;
}

void BM_Md5Ours(benchmark::State& state) {
    const auto& buf = buffer();
    MD5 m;
    for (auto _ : state) {
        m.reset();
        m.update(buf.data(), unsigned(buf.size()));
        benchmark::DoNotOptimize(m.digest());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}
BENCHMARK(BM_Md5Ours)->Unit(benchmark::kMillisecond);

#ifdef ZEM_HAVE_OPENSSL
void BM_Md5OpenSSL(benchmark::State& state) {
    const auto& buf = buffer();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(buf.data(), buf.size(), out, &len, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}
BENCHMARK(BM_Md5OpenSSL)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
