// wh_compare_samples HEARD PLAYED [MISSING [GAPS]]: whether HEARD (a PCM wave file of 16 or 32 bits, or raw 16-bit
// samples) holds the raw 16-bit samples PLAYED exactly once from their first sound on: each
// sample within one step (32-bit samples are rounded to 16 bits), nothing missing, only silence
// after them; up to MISSING frames of the played start may be absent, and up to GAPS runs of
// silence (of at most 2048 frames each) may stand between the played samples. Prints what it found;
// exit code 0 when it holds, 1 when not, 2 on bad input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// The samples of a wave file's data chunk (or of a raw file) as 16-bit values.
bool Samples(const std::string& bytes, std::vector<std::int16_t>* samples)
{
    unsigned bits = 16;
    std::string data = bytes;
    if (bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WAVE") == 0) {
        data.clear();
        for (std::size_t at = 12; at + 8 <= bytes.size();) {
            const std::uint32_t size = Le32(bytes, at + 4);
            if (bytes.compare(at, 4, "fmt ") == 0 && at + 24 <= bytes.size())
                bits = static_cast<unsigned char>(bytes[at + 22]) | (static_cast<unsigned char>(bytes[at + 23]) << 8);
            if (bytes.compare(at, 4, "data") == 0) {
                data = bytes.substr(at + 8, std::min<std::size_t>(size, bytes.size() - at - 8));
                break;
            }
            at += 8 + size + (size & 1);
        }
    }
    if (bits != 16 && bits != 32)
        return false;
    for (std::size_t at = 0; at + bits / 8 <= data.size(); at += bits / 8) {
        if (bits == 16) {
            std::int16_t value;
            std::memcpy(&value, data.data() + at, 2);
            samples->push_back(value);
        } else {
            std::int32_t value;
            std::memcpy(&value, data.data() + at, 4);
            const long long rounded = (static_cast<long long>(value) + 0x8000) >> 16;
            samples->push_back(static_cast<std::int16_t>(std::clamp<long long>(rounded, -32768, 32767)));
        }
    }
    return true;
}

std::size_t FirstSound(const std::vector<std::int16_t>& samples)
{
    const auto at = std::find_if(samples.begin(), samples.end(), [](std::int16_t v) { return v != 0; });
    const auto index = static_cast<std::size_t>(at - samples.begin());
    return index - index % 2; // stereo frames
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: wh_compare_samples HEARD PLAYED [MISSING [GAPS]]\n");
        return 2;
    }
    std::vector<std::int16_t> heard, played;
    if (!Samples(ReadFile(argv[1]), &heard) || !Samples(ReadFile(argv[2]), &played)) {
        std::fprintf(stderr, "%s: neither 16- nor 32-bit PCM\n", argv[1]);
        return 2;
    }
    std::size_t playedStart = FirstSound(played);
    std::size_t heardStart = FirstSound(heard);
    if (playedStart >= played.size() || heardStart >= heard.size()) {
        std::printf("%s: no sound (%zu samples)\n", argv[1], heard.size());
        return 1;
    }
    const std::size_t mayMiss = argc >= 4 ? std::strtoul(argv[3], nullptr, 10) * 2 : 0;
    unsigned long gapsLeft = argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 0;
    for (std::size_t skipped = 0; skipped <= mayMiss && playedStart + skipped + 64 <= played.size(); skipped += 2)
        if (heardStart + 64 <= heard.size() &&
            std::equal(played.begin() + static_cast<long>(playedStart + skipped),
                       played.begin() + static_cast<long>(playedStart + skipped + 64),
                       heard.begin() + static_cast<long>(heardStart))) {
            if (skipped > 0)
                std::printf("%s: the first %zu played frames are missing\n", argv[1], skipped / 2);
            playedStart += skipped;
            break;
        }
    const std::size_t length = played.size() - playedStart;
    if (heard.size() - heardStart < length) {
        std::printf("%s: only %zu of the %zu played samples from the first sound on\n", argv[1],
                    heard.size() - heardStart, length);
        return 1;
    }
    std::size_t exact = 0;
    std::size_t gapFrames = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (heardStart + i >= heard.size()) {
            std::printf("%s: only %zu of the %zu played samples from the first sound on\n", argv[1], i, length);
            return 1;
        }
        const int difference = std::abs(heard[heardStart + i] - played[playedStart + i]);
        std::size_t silence = 0;
        while (difference > 1 && heardStart + i + silence < heard.size() && heard[heardStart + i + silence] == 0)
            ++silence;
        silence -= silence % 2;
        if (difference > 1 && gapsLeft > 0 && silence > 0 && silence <= 2 * 2048) {
            --gapsLeft;
            gapFrames += silence / 2;
            heardStart += silence;
            --i;
            continue;
        }
        if (difference > 1) {
            std::printf("%s: sample %zu from the first sound on is %d, played %d\n", argv[1], i,
                        heard[heardStart + i], played[playedStart + i]);
            return 1;
        }
        exact += difference == 0;
    }
    const auto after = std::find_if(heard.begin() + static_cast<long>(heardStart + length), heard.end(),
                                    [](std::int16_t v) { return v != 0; });
    if (after != heard.end()) {
        std::printf("%s: more sound after the played samples (at %zu)\n", argv[1],
                    static_cast<std::size_t>(after - heard.begin()) - heardStart);
        return 1;
    }
    std::printf("%s: the %zu played samples once from the first sound on, %zu exact, the rest within one step"
                "; %zu frames of silence between them\n",
                argv[1], length, exact, gapFrames);
    return 0;
}
