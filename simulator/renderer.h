#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "print_model.h"

namespace tessaly::sim {

// A picture of the paper: one byte per dot.
struct Canvas {
    enum : std::uint8_t { kWhite = 0, kBlack = 1, kMark = 2 };  // kMark: cut lines, pulses
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> dots;

    std::uint8_t at(int x, int y) const {
        return dots[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                    static_cast<std::size_t>(x)];
    }
};

// What became of a bar code or 2-D code of the job.
struct RenderedCode {
    std::string kind;  // "barcode" or "2d"
    std::string name;  // "EAN13", "QR"
    std::string data;
    std::string hri;  // the human-readable text printed with a bar code
    bool printed = false;
    std::string problem;  // why it was not printed
    int x = 0, y = 0, width = 0, height = 0;
};

struct RenderedJob {
    Canvas canvas;
    std::vector<RenderedCode> codes;
};

// Draws a job as the printer prints it: the paper's full width (576 or 384
// dots), as long as the job, with cut lines and drawer pulses marked.
RenderedJob RenderJob(const PrintJob& job);

// Writes the canvas as a palette PNG (white, black, marks); false with error.
bool WritePng(const Canvas& canvas, const std::string& path, std::string& error);
// Reads a PNG written by WritePng back into a canvas (for comparisons).
bool ReadPng(const std::string& path, Canvas& canvas, std::string& error);

}  // namespace tessaly::sim
