#ifndef SKR_READ_AHEAD_H
#define SKR_READ_AHEAD_H

// A socket's receive buffer: one receive of the transport fills it whole
// (space(), then filled()), and reads take from it in order until it is
// empty, so that many small reads cost one receive. It knows nothing of the
// transport; a socket that reads ahead owns one. Without a buffer (none made,
// or released) it holds nothing.
class SkrReadAhead {
public:
    SkrReadAhead() = default;
    ~SkrReadAhead();

    // A new empty buffer of `size` (> 0) bytes in place of any held before.
    // VexOutOfMemoryError when it cannot be had.
    void allocate(int size);
    // Frees the buffer and what it holds.
    void release();

    bool allocated() const { return m_buffer != nullptr; }
    int size() const { return m_size; }
    // Bytes received and not taken yet.
    int held() const { return m_held; }

    // Up to `length` held bytes into `buffer`, the rest kept in order; the count.
    int take(char* buffer, int length);
    // For a receive while nothing is held: where its bytes go (size() of them
    // at most), then how many came.
    char* space() { return m_buffer; }
    void filled(int count) { m_held = count; }

private:
    SkrReadAhead(const SkrReadAhead&) = delete;
    SkrReadAhead& operator=(const SkrReadAhead&) = delete;

    char* m_buffer = nullptr;  // owned
    int m_size = 0;
    int m_held = 0;
};

#endif
