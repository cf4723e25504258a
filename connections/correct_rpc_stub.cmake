# Corrects widl's stubs of the alarm interface so that RemoteOpen goes on the
# wire as NDR prescribes.
#
# widl names RemoteOpen's explicit binding handle in the procedure header (as
# it should) and lists it once more as an ordinary [in] parameter, so the
# interpreter marshals 4 bytes of it ahead of the password. NDR never
# transmits a primitive binding handle, and a server built by another IDL
# compiler rejects such a request. The correction removes that parameter entry,
# lowers the parameter count from 4 to 3 and pads the block to its old length,
# so that the offsets of RemoteAlarm and RemoteClose stay valid. The same block
# drives the client stub (what is sent) and the server stub (what is expected).
#
# The block must be exactly what this widl generates; anything else fails the
# build rather than shipping stubs nobody has checked.
#
#   cmake -DSTUB_IN=<widl output> -DSTUB_OUT=<corrected file> -P correct_rpc_stub.cmake

if(NOT STUB_IN OR NOT STUB_OUT)
    message(FATAL_ERROR "usage: cmake -DSTUB_IN=in.c -DSTUB_OUT=out.c -P correct_rpc_stub.cmake")
endif()

set(open_marker "/* 0 (procedure QnsrvAlarm::RemoteOpen) */")
set(next_marker "/* 54 (procedure QnsrvAlarm::RemoteAlarm) */")

# RemoteOpen's block as widl generates it, without comments and white space.
string(CONCAT expected
    "0x00,0x48,NdrFcLong(0x0),NdrFcShort(0x0),NdrFcShort(0x20),"  # explicit handle, method 0, stack 32
    "0x32,0x00,NdrFcShort(0x0),"                                  # FC_BIND_PRIMITIVE at stack offset 0
    "NdrFcShort(0x0),NdrFcShort(0x20),0x46,0x04,"                 # buffer hints, Oi2 flags, 4 params
    "0x0a,0x00,NdrFcShort(0x0),NdrFcShort(0x0),NdrFcShort(0x0),NdrFcShort(0x0),"
    "NdrFcShort(0x48),NdrFcShort(0x0),0x08,0x0,"                  # binding as an [in] FC_LONG: the fault
    "NdrFcShort(0x10b),NdrFcShort(0x8),NdrFcShort(0x4),"          # password
    "NdrFcShort(0x110),NdrFcShort(0x10),NdrFcShort(0xa),"         # context
    "NdrFcShort(0x70),NdrFcShort(0x18),0x08,0x0,")                # return value

set(corrected [=[
        0x00,	/* explicit handle */
        0x48,
        NdrFcLong(0x0),
        NdrFcShort(0x0),	/* method 0 */
        NdrFcShort(0x20),	/* stack size = 32 */
        0x32,	/* FC_BIND_PRIMITIVE */
        0x00,
        NdrFcShort(0x0),	/* stack offset = 0 */
        NdrFcShort(0x0),	/* client buffer = 0 */
        NdrFcShort(0x20),	/* server buffer = 32 */
        0x46,
        0x03,	/* 3 params: the binding handle is not a parameter on the wire */
        0x0a,
        0x00,
        NdrFcShort(0x0),
        NdrFcShort(0x0),
        NdrFcShort(0x0),
        NdrFcShort(0x0),
/* 30 (parameter password) */
        NdrFcShort(0x10b),	/* flags: must size, must free, in, simple ref */
        NdrFcShort(0x8),	/* stack offset = 8 */
        NdrFcShort(0x4),	/* type offset = 4 */
/* 36 (parameter context) */
        NdrFcShort(0x110),	/* flags: out, simple ref */
        NdrFcShort(0x10),	/* stack offset = 16 */
        NdrFcShort(0xa),	/* type offset = 10 */
/* 42 (return value) */
        NdrFcShort(0x70),	/* flags: out, return, base type */
        NdrFcShort(0x18),	/* stack offset = 24 */
        0x08,	/* FC_LONG */
        0x0,
/* 48 (padding: the next procedure stays at offset 54) */
        0x0, 0x0, 0x0, 0x0, 0x0, 0x0,
]=])

file(READ "${STUB_IN}" text)
string(FIND "${text}" "${open_marker}" begin)
string(FIND "${text}" "${open_marker}" last REVERSE)
string(FIND "${text}" "${next_marker}" end)
if(begin EQUAL -1 OR end EQUAL -1 OR NOT begin EQUAL last OR end LESS begin)
    message(FATAL_ERROR "${STUB_IN}: RemoteOpen's format block not found once; widl's output changed")
endif()

string(LENGTH "${open_marker}\n" marker_length)
math(EXPR body_begin "${begin} + ${marker_length}")
math(EXPR body_length "${end} - ${body_begin}")
string(SUBSTRING "${text}" ${body_begin} ${body_length} body)
string(REGEX REPLACE "/\\*[^*]*\\*/" "" tokens "${body}")
string(REGEX REPLACE "[ \t\r\n]" "" tokens "${tokens}")
if(NOT tokens STREQUAL expected)
    message(FATAL_ERROR "${STUB_IN}: RemoteOpen's format block is not the one this correction "
                        "was made for.\n  found:    ${tokens}\n  expected: ${expected}")
endif()

string(SUBSTRING "${text}" 0 ${body_begin} head)
string(SUBSTRING "${text}" ${end} -1 tail)
file(WRITE "${STUB_OUT}" "${head}${corrected}${tail}")
