// Writes a stand-in font payload: the printer's framing (five marker bytes and
// the little-endian count of the bytes that follow) around deterministic filler,
// so that builds without the vendor files still carry payloads of the exact
// sizes and distinct contents.
//
//   tessaly_payload_standin <id> <size> <output file>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <id> <size> <output>\n", argv[0]);
        return 2;
    }
    const unsigned long id = std::strtoul(argv[1], nullptr, 10);
    const unsigned long size = std::strtoul(argv[2], nullptr, 10);
    if (size < 9 || size > 0xFFFFFFFFul) {
        std::fprintf(stderr, "bad size %s\n", argv[2]);
        return 2;
    }
    std::vector<std::uint8_t> data(size);
    const std::uint8_t framing[5] = {0x1C, 0x6C, 0x64, 0x73, 0x58};
    for (std::size_t i = 0; i < 5; ++i) data[i] = framing[i];
    const auto count = static_cast<std::uint32_t>(size - 9);
    for (std::size_t i = 0; i < 4; ++i) data[5 + i] = static_cast<std::uint8_t>(count >> (8 * i));

    // A readable mark at the start of the data, then xorshift filler seeded by
    // the resource number so that payloads of equal size still differ.
    const std::string mark = "TESSALY STAND-IN FONT PAYLOAD " + std::to_string(id) + "\n";
    std::size_t pos = 9;
    for (char c : mark) {
        if (pos < size) data[pos++] = static_cast<std::uint8_t>(c);
    }
    std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(id * 2654435761ul);
    for (; pos < size; ++pos) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        data[pos] = static_cast<std::uint8_t>(state);
    }

    const std::string temporary = std::string(argv[3]) + ".part";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        std::perror(temporary.c_str());
        return 1;
    }
    const bool ok = std::fwrite(data.data(), 1, data.size(), out) == data.size();
#ifdef _WIN32
    // rename() there refuses an existing target: a rebuild regenerates the payload.
    if (ok) std::remove(argv[3]);
#endif
    if (std::fclose(out) != 0 || !ok || std::rename(temporary.c_str(), argv[3]) != 0) {
        std::perror(argv[3]);
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
