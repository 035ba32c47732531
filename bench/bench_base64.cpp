// Base64 encode and decode of certificate-sized and larger contents, ours
// against OpenSSL's one-shot EVP block coder (also one unbroken line).
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Base64.h"
#include "BenchSizes.h"

#ifdef QOR_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

size_t encodedSize(size_t bytes) {
    return (bytes + 2) / 3 * 4 + 1;
}

// Binary contents (random bytes: a DER certificate looks like this to a
// coder) and their Base64 text made by our encoder, several of each size.
struct Sample {
    std::vector<uint8_t> content;
    std::string text;
};

const std::vector<Sample>& samplesOf(size_t bytes) {
    static std::map<size_t, std::vector<Sample>> cache;
    auto found = cache.find(bytes);
    if (found != cache.end())
        return found->second;
    std::vector<Sample> samples(qorbench::poolCount(bytes));
    qorbench::Lcg random(static_cast<uint32_t>(bytes));
    for (Sample& sample : samples) {
        sample.content.resize(bytes);
        for (uint8_t& b : sample.content)
            b = static_cast<uint8_t>(random.next());
        std::vector<char> out(encodedSize(bytes));
        qor::Base64 base64;
        base64.encode(sample.content.data(), sample.content.size(), out.data(), out.size());
        sample.text = out.data();
    }
    return cache.emplace(bytes, std::move(samples)).first->second;
}

bool oursEncode(const std::vector<uint8_t>& in, char* out, size_t capacity) {
    qor::Base64 base64;
    return base64.encode(in.data(), in.size(), out, capacity);
}

int64_t oursDecode(const std::string& text, uint8_t* out, size_t capacity) {
    qor::Base64 base64;
    return base64.decode(text.c_str(), out, capacity);
}

#ifdef QOR_BENCH_OPENSSL
bool opensslEncode(const std::vector<uint8_t>& in, char* out, size_t) {
    return EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out), in.data(),
                           static_cast<int>(in.size())) >= 0;
}

// EVP_DecodeBlock counts padding as zero bytes; the padding is taken off
// here so both decoders give the same count.
int64_t opensslDecode(const std::string& text, uint8_t* out, size_t) {
    int n = EVP_DecodeBlock(out, reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0)
        return -1;
    size_t padding = 0;
    for (size_t k = text.size(); k > 0 && padding < 2 && text[k - 1] == '='; --k)
        ++padding;
    return n - static_cast<int64_t>(padding);
}
#endif

using Encoder = bool (*)(const std::vector<uint8_t>&, char*, size_t);
using Decoder = int64_t (*)(const std::string&, uint8_t*, size_t);

void runEncode(benchmark::State& state, Encoder encode) {
    size_t bytes = static_cast<size_t>(state.range(0));
    const std::vector<Sample>& samples = samplesOf(bytes);
    std::vector<char> out(encodedSize(bytes));
    for (const Sample& sample : samples) {
        if (!encode(sample.content, out.data(), out.size()) || sample.text != out.data()) {
            state.SkipWithError("encoded text mismatch");
            return;
        }
    }
    size_t next = 0;
    for (auto _ : state) {
        encode(samples[next].content, out.data(), out.size());
        next = next + 1 == samples.size() ? 0 : next + 1;
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    qorbench::countBytes(state, bytes);
}

void runDecode(benchmark::State& state, Decoder decode) {
    size_t bytes = static_cast<size_t>(state.range(0));
    const std::vector<Sample>& samples = samplesOf(bytes);
    std::vector<uint8_t> out(bytes + 3);
    for (const Sample& sample : samples) {
        int64_t n = decode(sample.text, out.data(), out.size());
        if (n != static_cast<int64_t>(bytes) ||
            memcmp(out.data(), sample.content.data(), bytes) != 0) {
            state.SkipWithError("decoded bytes mismatch");
            return;
        }
    }
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(samples[next].text, out.data(), out.size()));
        next = next + 1 == samples.size() ? 0 : next + 1;
        benchmark::ClobberMemory();
    }
    // Counted on the text read, the decoder's input.
    qorbench::countBytes(state, samples[0].text.size());
}

void Base64Encode_ours(benchmark::State& state) {
    runEncode(state, oursEncode);
}
BENCHMARK(Base64Encode_ours)->Apply(qorbench::inputSizes);

void Base64Decode_ours(benchmark::State& state) {
    runDecode(state, oursDecode);
}
BENCHMARK(Base64Decode_ours)->Apply(qorbench::inputSizes);

#ifdef QOR_BENCH_OPENSSL
void Base64Encode_openssl(benchmark::State& state) {
    runEncode(state, opensslEncode);
}
BENCHMARK(Base64Encode_openssl)->Apply(qorbench::inputSizes);

void Base64Decode_openssl(benchmark::State& state) {
    runDecode(state, opensslDecode);
}
BENCHMARK(Base64Decode_openssl)->Apply(qorbench::inputSizes);
#endif

}  // namespace

BENCHMARK_MAIN();
