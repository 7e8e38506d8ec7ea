#pragma once

#include <string>

#include "print_model.h"
#include "renderer.h"

namespace tessaly::sim {

// The job's description beside its picture: text, codes, images, commands,
// conditions, as JSON.
std::string JobJson(const PrintJob& job, const RenderedJob& rendered);

// Writes each job as NNNN.png, NNNN.txt and NNNN.json in a folder. Numbers go on
// from the highest already there, so a folder is never overwritten; the JSON is
// written last (and renamed into place), so a job whose .json exists is complete.
class PaperFolder {
  public:
    explicit PaperFolder(std::string folder) : folder_(std::move(folder)) {}

    // Creates the folder if needed and finds the next number; false with error.
    bool open(std::string& error);
    // Renders and writes one job; false with error (nothing half-written stays).
    bool write(PrintJob job, std::string& error);
    // Path of a job's file: file("png", 3) is DIR/0003.png.
    std::string file(const char* extension, int number) const;
    int lastNumber() const { return next_ - 1; }

  private:
    std::string folder_;
    int next_ = 1;
};

}  // namespace tessaly::sim
