// A front end without a toolkit for the tests of the window logic: tasks
// posted from any thread wait in a queue until the test pumps them, and
// everything the logic would show is recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "front_end.h"

namespace tervalo::test {

class FakeFrontEnd : public gui::FrontEnd {
public:
    void Post(std::function<void()> task) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
    }
    // Runs posted tasks until `done` holds; false after `timeout`.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!wake_.wait_until(lock, end, [this] { return !tasks_.empty(); })) return done();
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }

    void Message(const std::u16string& text, gui::MessageKind kind) override {
        messages.push_back(text);
        if (kind == gui::MessageKind::Error) ++errors;
    }
    void Beep() override { ++beeps; }
    bool Ask(const std::u16string& text) override {
        asked.push_back(text);
        return answer;
    }
    std::u16string PickFolder(const std::u16string& caption, const std::u16string& start) override {
        pickCaption = caption;
        pickStart = start;
        return pickResult;
    }
    bool OpenPath(const std::u16string& path) override {
        opened.push_back(path);
        return openResult;
    }
    void ShowResults(const std::u16string& summary, const std::vector<gui::ResultRow>& rows) override {
        resultsSummary = summary;
        results = rows;
    }

    void StatusChanged(const std::u16string& text) override { status = text; }
    void ReferenceFolderChanged(const std::u16string& folder) override { reference = folder; }
    void ListReset() override { ++resets; }
    void RowsAdded(std::size_t, std::size_t count) override {
        ++batches;
        added += count;
    }
    void RowsReordered(const std::vector<std::size_t>& oldOfNew) override { lastOrder = oldOfNew; }
    void ListingFinished() override { ++listings; }
    void CountsFinished() override { ++countsDone; }
    void SelectRows(const std::vector<std::size_t>& rows, std::size_t current) override {
        selected = rows;
        currentRow = current;
    }
    void RunStateChanged(bool running) override { runStates.push_back(running); }
    void ProgressChanged(std::size_t done, std::size_t total, const std::u16string& current) override {
        progress.push_back({done, total, current});
    }
    void RunFinished() override { ++runsFinished; }
    void FocusOutputFolder() override { ++outputFocus; }
    void CloseWindow() override { ++closes; }

    struct Progress {
        std::size_t done, total;
        std::u16string current;
    };
    std::vector<std::u16string> messages, asked, opened;
    int errors = 0, beeps = 0, resets = 0, batches = 0, listings = 0, countsDone = 0, runsFinished = 0,
        outputFocus = 0, closes = 0;
    std::size_t added = 0;
    bool answer = false, openResult = true;
    std::u16string pickCaption, pickStart, pickResult, status, reference, resultsSummary;
    std::vector<gui::ResultRow> results;
    std::vector<std::size_t> lastOrder, selected;
    std::size_t currentRow = 0;
    std::vector<bool> runStates;
    std::vector<Progress> progress;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace tervalo::test
