#include "row_window.h"

#include <algorithm>

RowWindow::RowWindow(int capacity, int resume)
    : capacity_(std::max(capacity, 1)), resume_(std::clamp(resume, 1, capacity_))
{
}

void RowWindow::begin(int width, int height)
{
    // Never more rows than the picture has: a window sized for a large
    // offset costs nothing on a small picture.
    const int capacity = std::clamp(height, 1, capacity_);
    // Allocated outside the lock: a reader waiting for the size waits a
    // little longer, the lock is never held across an allocation.
    auto store = std::make_unique<std::uint32_t[]>(std::size_t(capacity) * std::size_t(std::max(width, 0)));
    std::lock_guard lock(mutex_);
    capacity_ = capacity;
    resume_ = std::min(resume_, capacity);
    store_ = std::move(store);
    width_ = width;
    height_ = height;
    changed_.notify_all();
}

std::uint32_t* RowWindow::slot(int y) const
{
    return store_.get() + std::size_t(y % capacity_) * std::size_t(width_);
}

bool RowWindow::fits(int first) const
{
    // Near the end fewer rows than resume_ are left to make.
    const int wanted = std::max(1, std::min(resume_, height_ - first));
    return first + wanted <= released_ + capacity_;
}

int RowWindow::give(int first, int count, std::uint32_t** rows) const
{
    const int n = std::clamp(released_ + capacity_ - first, 1, std::max(count, 1));
    for (int i = 0; i < n; ++i)
        rows[i] = slot(first + i);
    return n;
}

int RowWindow::room(int first, int count, std::uint32_t** rows)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return cancelled_ || fits(first); });
    if (cancelled_)
        throw RowsCancelled();
    return give(first, count, rows);
}

int RowWindow::tryRoom(int first, int count, std::uint32_t** rows)
{
    std::lock_guard lock(mutex_);
    if (cancelled_)
        throw RowsCancelled();
    return fits(first) ? give(first, count, rows) : 0;
}

void RowWindow::written(int first, int count)
{
    std::lock_guard lock(mutex_);
    made_ = std::max(made_, first + count);
    changed_.notify_all();
}

void RowWindow::fail(std::exception_ptr failure)
{
    std::lock_guard lock(mutex_);
    if (!failure_)
        failure_ = failure;
    changed_.notify_all();
}

void RowWindow::waitForSize(std::unique_lock<std::mutex>& lock)
{
    changed_.wait(lock, [&] { return failure_ || width_ >= 0; });
    if (width_ < 0)
        std::rethrow_exception(failure_);
}

int RowWindow::width()
{
    std::unique_lock lock(mutex_);
    waitForSize(lock);
    return width_;
}

int RowWindow::height()
{
    std::unique_lock lock(mutex_);
    waitForSize(lock);
    return height_;
}

const std::uint32_t* RowWindow::row(int y)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failure_ || made_ > y; });
    // A row made before the producer failed is still good.
    if (made_ <= y)
        std::rethrow_exception(failure_);
    if (y < released_ || y >= height_)
        throw std::logic_error("a row outside the window was asked for");
    return slot(y);
}

void RowWindow::release(int below)
{
    std::lock_guard lock(mutex_);
    if (below > released_) {
        released_ = below;
        changed_.notify_all();
    }
}

int RowWindow::made()
{
    std::lock_guard lock(mutex_);
    return made_;
}

void RowWindow::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}
