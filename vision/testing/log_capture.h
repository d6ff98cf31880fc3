#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/output.h"

namespace tessival {

// An Output whose answers and log lines land in anonymous temporary files, read back as
// lines. Files rather than pipes, so a long log cannot block the writer.
class CapturedOutput {
  public:
    CapturedOutput()
        : answers_(std::tmpfile()), logs_(std::tmpfile()), out(fileno(answers_), fileno(logs_)) {}
    ~CapturedOutput() {
        std::fclose(answers_);
        std::fclose(logs_);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::vector<std::string> logLines() const { return lines(logs_); }
    std::vector<std::string> answerLines() const { return lines(answers_); }
    // Everything written so far, as it was written.
    std::string logText() const { return text(logs_); }
    std::string answerText() const { return text(answers_); }

  private:
    static std::string text(std::FILE* f) {
        std::string all;
        char buf[65536];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(fileno(f), buf, sizeof buf, at)) > 0) {
            all.append(buf, static_cast<size_t>(n));
            at += n;
        }
        return all;
    }

    static std::vector<std::string> lines(std::FILE* f) {
        const std::string all = text(f);
        std::vector<std::string> result;
        size_t start = 0;
        for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1) {
            result.push_back(all.substr(start, nl - start));
        }
        if (start < all.size()) result.push_back(all.substr(start));
        return result;
    }

    std::FILE* answers_;
    std::FILE* logs_;

  public:
    Output out;
};

}  // namespace tessival
