// QX3List: the framework's one container, a doubly linked list of pointers
// with both sentinel nodes embedded in the list object and position-based
// access. Every list of the program is a global object that never moves.
#ifndef QX3LIST_H
#define QX3LIST_H

template <typename T>
class QX3List {
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
        if (m_Size == 0)
            return &m_End;
        NODE* cur = &m_Head;
        unsigned int count = 0;
        while (cur != nullptr && count <= index) {
            cur = cur->next;
            count++;
        }
        return cur == nullptr ? &m_End : cur;
    }

    // Element index; an index at or past the end yields the last element,
    // and on an empty list the head sentinel's (null) value slot.
    T& operator[](unsigned int index)
    {
        NODE* cur = &m_Head;
        unsigned int count = 0;
        while (count < m_Size && count <= index) {
            cur = cur->next;
            count++;
        }
        return cur->value;
    }

    // Unlinks one node; an index at or past the end removes the last one.
    void remove(unsigned int index)
    {
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
    NODE m_Head;
    NODE m_End;
    unsigned int m_Size;
};

#endif
