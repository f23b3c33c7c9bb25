// Reader of multipart form data and of the upload temporary files.
// Placeholder until the multipart reader lands: a multipart body gives no
// pairs, and the end step only releases the parameter list.
#include "cgi/cgilib61.h"
#include <cstdlib>

int cgi_get_multipart(int, int) { return 0; }

bool cgi_is_own_upload(const char*) { return false; }

void cgi_free() {
    _list* node = list.next;
    std::free(list.name);
    std::free(list.value);
    while (node) {
        _list* next = node->next;
        std::free(node->name);
        std::free(node->value);
        std::free(node);
        node = next;
    }
    list = _list{};
    cur = &list;
}
