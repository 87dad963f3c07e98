// QX3List: the framework's one container, a doubly linked list of pointers
// with both sentinel nodes embedded in the list object and position-based
// access, which keeps a cursor so that walking the indices is linear. Every
// list of the program is a global object that never moves.
#ifndef QX3LIST_H
#define QX3LIST_H

template <typename T> class QX3List {
public:
    struct NODE {
        NODE* next;
        NODE* prev;
        T value;
    };

    QX3List() { init(); }
    ~QX3List() { clear(); }
    QX3List(const QX3List&) = delete;
    QX3List& operator=(const QX3List&) = delete;

    // Makes the list empty; nodes that were linked are not released.
    void init()
    {
        forgetCursor();
        m_Head.next = &m_End;
        m_Head.prev = nullptr;
        m_Head.value = nullptr;
        m_End.next = nullptr;
        m_End.prev = &m_Head;
        m_End.value = nullptr;
        m_Size = 0;
    }

    unsigned int size() const { return m_Size; }
    bool empty() const { return m_Size == 0; }

    void push_back(T v)
    {
        NODE* node = new NODE;
        node->value = v;
        node->next = &m_End;
        node->prev = m_End.prev;
        m_End.prev->next = node;
        m_End.prev = node;
        m_Size++;
    }

    // Links v before the node at(index): index >= size appends.
    void insert(T v, unsigned int index)
    {
        forgetCursor();
        NODE* pos = at(index);
        NODE* node = new NODE;
        node->value = v;
        node->next = pos;
        node->prev = pos->prev;
        pos->prev->next = node;
        pos->prev = node;
        m_Size++;
    }

    // The node of element index; the end sentinel for any index >= size.
    NODE* at(unsigned int index)
    {
        if (index >= m_Size)
            return &m_End;
        return nodeAt(index);
    }

    // Element index; an index at or past the end yields the last element,
    // and on an empty list the head sentinel's (null) value slot.
    T& operator[](unsigned int index)
    {
        if (m_Size == 0)
            return m_Head.value;
        if (index >= m_Size)
            return m_End.prev->value;
        return nodeAt(index)->value;
    }

    // Unlinks one node; an index at or past the end removes the last one.
    void remove(unsigned int index)
    {
        forgetCursor();
        NODE* node = at(index);
        if (node == &m_End) {
            if (m_Size == 0)
                return;
            node = m_End.prev;
        }
        node->prev->next = node->next;
        node->next->prev = node->prev;
        delete node;
        m_Size--;
    }

    void pop_back()
    {
        if (empty())
            return;
        forgetCursor();
        NODE* last = m_End.prev;
        m_End.prev = last->prev;
        last->prev->next = &m_End;
        delete last;
        m_Size--;
    }

    void clear()
    {
        while (!empty())
            pop_back();
    }

    // Sentinels, exposed for the walk invariants that the tests check.
    const NODE* head() const { return &m_Head; }
    const NODE* end() const { return &m_End; }

private:
    // The node of element index (< size), walked to from the cursor, the
    // first or the last node, whichever is nearest; it becomes the cursor.
    // A loop over the indices thus takes one step per element.
    NODE* nodeAt(unsigned int index)
    {
        NODE* cur = m_Head.next;
        unsigned int pos = 0;
        unsigned int distance = index;
        if (m_Size - 1 - index < distance) {
            cur = m_End.prev;
            pos = m_Size - 1;
            distance = m_Size - 1 - index;
        }
        if (m_Cursor != nullptr) {
            unsigned int fromCursor = m_CursorIndex > index ? m_CursorIndex - index : index - m_CursorIndex;
            if (fromCursor < distance) {
                cur = m_Cursor;
                pos = m_CursorIndex;
            }
        }
        while (pos < index) {
            cur = cur->next;
            pos++;
        }
        while (pos > index) {
            cur = cur->prev;
            pos--;
        }
        m_Cursor = cur;
        m_CursorIndex = index;
        return cur;
    }

    // Run by every change but push_back, which moves no element.
    void forgetCursor()
    {
        m_Cursor = nullptr;
        m_CursorIndex = 0;
    }

    NODE m_Head;
    NODE m_End;
    unsigned int m_Size;
    NODE* m_Cursor = nullptr;
    unsigned int m_CursorIndex = 0;
};

#endif
