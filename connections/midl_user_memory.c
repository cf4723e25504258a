// Memory routines the RPC stubs call for the data they allocate.
#include <windows.h>
#include <rpc.h>

void* __RPC_USER MIDL_user_allocate(SIZE_T size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void __RPC_USER MIDL_user_free(void* pointer) {
    HeapFree(GetProcessHeap(), 0, pointer);
}
