#include "paper_folder.h"

#include <fmt/format.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace tessaly::sim {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

Json StyleJson(const TextStyle& s) {
    return {{"font", s.font == 1 ? "B" : "A"},
            {"width", s.width},
            {"height", s.height},
            {"bold", s.bold},
            {"underline", s.underline},
            {"inverse", s.inverse}};
}

// A line as runs of equally styled text.
Json LineJson(const PrintLine& line) {
    Json runs = Json::array();
    std::string text;
    const TextStyle* style = nullptr;
    auto flush = [&] {
        if (style == nullptr) return;
        Json run = StyleJson(*style);
        run["text"] = text;
        runs.push_back(std::move(run));
        text.clear();
    };
    for (const auto& c : line.chars) {
        const TextStyle& s = c.style;
        if (style == nullptr || s.font != style->font || s.width != style->width ||
            s.height != style->height || s.bold != style->bold || s.underline != style->underline ||
            s.inverse != style->inverse) {
            flush();
            style = &c.style;
        }
        AppendUtf8(text, c.ch != 0 ? c.ch : U'\uFFFD');
    }
    flush();
    Json out = {
        {"type", "line"}, {"text", line.text}, {"height", line.height}, {"feed", line.feed}};
    if (!line.chars.empty()) out["x"] = line.chars.front().x;
    if (line.upsideDown) out["upsideDown"] = true;
    if (!runs.empty()) out["runs"] = std::move(runs);
    if (!line.images.empty()) {
        Json images = Json::array();
        for (const auto& i : line.images)
            images.push_back({{"x", i.x}, {"width", i.bitmap.width}, {"height", i.bitmap.height}});
        out["images"] = std::move(images);
    }
    return out;
}

Json CodeJson(const RenderedCode& c) {
    Json out = {{"type", c.kind}, {"symbology", c.name}, {"data", c.data}};
    if (!c.hri.empty()) out["hri"] = c.hri;
    out["printed"] = c.printed;
    if (c.printed) {
        out["x"] = c.x;
        out["y"] = c.y;
        out["width"] = c.width;
        out["height"] = c.height;
    } else {
        out["problem"] = c.problem;
    }
    return out;
}

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
        error = fmt::format("cannot write {}", path);
        return false;
    }
    return true;
}

}  // namespace

std::string JobJson(const PrintJob& job, const RenderedJob& rendered) {
    Json elements = Json::array();
    std::size_t code = 0;
    for (const auto& element : job.elements) {
        if (const auto* line = std::get_if<PrintLine>(&element)) {
            elements.push_back(LineJson(*line));
        } else if (const auto* image = std::get_if<ImageElement>(&element)) {
            elements.push_back({{"type", "image"},
                                {"source", image->source},
                                {"x", image->x},
                                {"width", image->bitmap.width},
                                {"height", image->bitmap.height}});
        } else if (std::holds_alternative<BarcodeElement>(element) ||
                   std::holds_alternative<Code2DElement>(element)) {
            if (code < rendered.codes.size()) elements.push_back(CodeJson(rendered.codes[code++]));
        } else if (const auto* feed = std::get_if<FeedElement>(&element)) {
            elements.push_back({{"type", "feed"}, {"dots", feed->dots}});
        } else if (const auto* cut = std::get_if<CutElement>(&element)) {
            elements.push_back({{"type", "cut"}, {"partial", cut->partial}});
        } else if (const auto* pulse = std::get_if<PulseElement>(&element)) {
            elements.push_back({{"type", "pulse"},
                                {"pin", pulse->pin},
                                {"onMs", pulse->onMs},
                                {"offMs", pulse->offMs},
                                {"realTime", pulse->realTime}});
        } else if (const auto* buzzer = std::get_if<BuzzerElement>(&element)) {
            elements.push_back({{"type", "buzzer"}, {"times", buzzer->times}, {"ms", buzzer->ms}});
        }
    }
    const Json out = {
        {"job", job.number},
        {"paper",
         {{"widthDots", rendered.canvas.width},
          {"heightDots", rendered.canvas.height},
          {"widthMm", job.widthDots == 384 ? 58 : 80}}},
        {"startMs", job.startMs},
        {"endMs", job.endMs},
        {"endedBy", job.endedBy},
        {"bytes", job.bytes},
        {"text", job.text},
        {"elements", std::move(elements)},
        {"commands", job.commands},
        {"unknownCommands", job.unknown},
        {"notes", job.notes},
        {"conditions", job.conditions},
    };
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool PaperFolder::open(std::string& error) {
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec || !fs::is_directory(folder_)) {
        error = fmt::format("cannot use {} as the paper folder: {}", folder_,
                            ec ? ec.message() : "not a folder");
        return false;
    }
    int highest = 0;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string stem = entry.path().stem().string();
        const std::string ext = entry.path().extension().string();
        if ((ext != ".png" && ext != ".json" && ext != ".txt") || stem.size() < 4) continue;
        if (!std::all_of(stem.begin(), stem.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            continue;
        highest = std::max(highest, std::stoi(stem.substr(0, 9)));
    }
    if (ec) {
        error = fmt::format("cannot read the paper folder {}: {}", folder_, ec.message());
        return false;
    }
    next_ = highest + 1;
    return true;
}

std::string PaperFolder::file(const char* extension, int number) const {
    return (fs::path(folder_) / fmt::format("{:04d}.{}", number, extension)).string();
}

bool PaperFolder::write(PrintJob numbered, std::string& error) {
    numbered.number = next_;
    const RenderedJob rendered = RenderJob(numbered);
    std::string text;
    for (const auto& line : numbered.text) text += line + "\n";
    const std::string description = JobJson(numbered, rendered);

    // The picture and the text first; the JSON last, under a temporary name
    // renamed when complete, so a job whose .json exists is whole.
    const std::string png = file("png", next_), txt = file("txt", next_);
    const std::string json = file("json", next_), temp = json + ".part";
    std::error_code ec;
    bool ok = WritePng(rendered.canvas, png, error) && WriteText(txt, text, error) &&
              WriteText(temp, description, error);
    if (ok) {
        fs::rename(temp, json, ec);
        if (ec) error = fmt::format("cannot rename {}: {}", temp, ec.message());
    }
    if (!ok || ec) {
        for (const auto& path : {png, txt, temp}) fs::remove(path, ec);
        return false;
    }
    ++next_;
    return true;
}

}  // namespace tessaly::sim
