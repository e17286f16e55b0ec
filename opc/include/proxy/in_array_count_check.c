/* A server method loops to its count argument (dwCount), while the stub sizes the [in] array
 * from the size on the wire: the two cross separately, and the runtime (Wine's rpcrt4 included,
 * whose correlation checks are empty) never compares them. A caller with a proxy of its own
 * could send a count of 100000 with one element and make the server read past the array.
 *
 * Before the interpreter (NdrStubCall2) runs a call, this walks the procedure's [in] parameters
 * in wire order on a stub message of its own, reads the size of every [in] conformant array
 * that another parameter sizes (a top-level correlation in the array's format) and compares it
 * with that parameter. A mismatch refuses the call with RPC_X_BAD_STUB_DATA, which the client
 * sees as 0x800706F7; the server object never sees the call. The walk unmarshals only the
 * parameters before the last array it checks, into memory it frees before it decides; a
 * procedure without such an array costs a scan of its parameter descriptors. A NULL unique
 * array carries no size and is left to the server's own argument checks. */
#include "in_array_count_check.h"

#include <ndrtypes.h>
#include <rpcproxy.h>
#include <string.h>

/* The -Oif procedure header and parameter descriptors (the layout NdrStubCall2 reads). */
enum {
    OI_HAS_RPC_FLAGS = 0x08,
    OI2_HAS_EXTENSIONS = 0x40,
    PARAM_DESCRIPTOR_SIZE = 6,
    PARAM_IS_IN = 0x0008,
    PARAM_IS_BASETYPE = 0x0040,
    PARAM_IS_BY_VALUE = 0x0080,
    PARAM_IS_SIMPLE_REF = 0x0100
};
#define PARAM_SERVER_ALLOC_SIZE(attributes) ((((attributes) >> 13) & 7u) * 8u)

/* Format strings are byte arrays: their shorts may sit at odd addresses. */
static unsigned short format_u16(const unsigned char *p)
{
    return (unsigned short)(p[0] | p[1] << 8);
}

struct procedure {
    unsigned short stack_size;
    unsigned param_count;
    const unsigned char *params;
};

static void read_procedure(const unsigned char *format, struct procedure *procedure)
{
    const int has_rpc_flags = (format[1] & OI_HAS_RPC_FLAGS) != 0;
    /* handle type, Oi flags, [rpc flags], procedure number, stack size */
    const unsigned char *oi2 = format + (has_rpc_flags ? 10 : 6);
    procedure->stack_size = format_u16(format + (has_rpc_flags ? 8 : 4));
    /* client and server buffer sizes, Oi2 flags, parameter count, [extensions of their own size] */
    procedure->param_count = oi2[5];
    procedure->params = oi2 + 6 + ((oi2[4] & OI2_HAS_EXTENSIONS) ? oi2[6] : 0);
}

static unsigned short param_attributes(const unsigned char *param)
{
    return format_u16(param);
}

static unsigned short param_stack_offset(const unsigned char *param)
{
    return format_u16(param + 2);
}

static const unsigned char *param_type(const MIDL_STUB_DESC *desc, const unsigned char *param)
{
    return desc->pFormatTypes + format_u16(param + 4);
}

static const unsigned char *pointee_type(const unsigned char *pointer)
{
    return pointer + 2 + (short)format_u16(pointer + 2);
}

/* What the walk knows of one parameter. */
struct walked_param {
    const unsigned char *count; /* correlation descriptor of a sized [in] array, else NULL */
    int unique;                 /* a pointer id precedes the array on the wire */
    int present;                /* the array was on the wire (not a NULL unique pointer) */
    ULONG size;                 /* the array's size on the wire */
    unsigned char *server_allocated;
};

/* Whether the [in] parameter is a conformant array sized by another parameter; fills `walked`. */
static int is_sized_array(const MIDL_STUB_DESC *desc, const unsigned char *param,
                          struct walked_param *walked)
{
    const unsigned short attributes = param_attributes(param);
    const unsigned char *type;
    if (!(attributes & PARAM_IS_IN) || (attributes & (PARAM_IS_BASETYPE | PARAM_IS_BY_VALUE)))
        return 0;
    type = param_type(desc, param);
    if (!(attributes & PARAM_IS_SIMPLE_REF)) {
        if (type[0] != FC_RP && type[0] != FC_UP && type[0] != FC_OP) return 0;
        if (type[1] & (FC_SIMPLE_POINTER | FC_POINTER_DEREF)) return 0;
        walked->unique = type[0] != FC_RP;
        type = pointee_type(type);
    }
    if (type[0] != FC_CARRAY && type[0] != FC_CVARRAY && type[0] != FC_BOGUS_ARRAY) return 0;
    /* Each of the three has its conformance descriptor 4 bytes in. */
    if ((type[4] & 0xf0) != FC_TOP_LEVEL_CONFORMANCE) return 0;
    walked->count = type + 4;
    return 1;
}

/* The index of the [in] parameter at `stack_offset`; -1 when there is none. */
static int param_at(const struct procedure *procedure, unsigned short stack_offset)
{
    unsigned i;
    for (i = 0; i < procedure->param_count; ++i) {
        const unsigned char *param = procedure->params + i * PARAM_DESCRIPTOR_SIZE;
        if (param_stack_offset(param) == stack_offset && (param_attributes(param) & PARAM_IS_IN))
            return (int)i;
    }
    return -1;
}

/* The walk over one call's request. */
struct walk {
    MIDL_STUB_MESSAGE message;
    const MIDL_STUB_DESC *desc;
    const unsigned char *params;
    unsigned char *args; /* the call's stack frame, as the server would get it */
    struct walked_param *walked;
    unsigned unmarshalled; /* parameters [0, unmarshalled) to free */
};

static int in_buffer(const MIDL_STUB_MESSAGE *message, const unsigned char *memory)
{
    return memory >= message->BufferStart && memory < message->BufferEnd;
}

/* The size a conformant array carries first on the wire (after the pointer id of a unique
 * pointer, and nothing for a NULL one). */
static RPC_STATUS peek_array_size(const MIDL_STUB_MESSAGE *message, struct walked_param *walked)
{
    const unsigned char *wire =
        (const unsigned char *)(((ULONG_PTR)message->Buffer + 3) & ~(ULONG_PTR)3);
    walked->present = 1;
    if (walked->unique) {
        ULONG pointer_id;
        if (wire + sizeof pointer_id > message->BufferEnd) return RPC_X_BAD_STUB_DATA;
        memcpy(&pointer_id, wire, sizeof pointer_id);
        wire += sizeof pointer_id;
        walked->present = pointer_id != 0;
        if (!walked->present) return RPC_S_OK;
    }
    if (wire + sizeof walked->size > message->BufferEnd) return RPC_X_BAD_STUB_DATA;
    memcpy(&walked->size, wire, sizeof walked->size);
    return RPC_S_OK;
}

/* The value of the count parameter the descriptor names, read from the unmarshalled frame. Only
 * the shapes widl writes for an [in] array are known (a LONG or ULONG, itself or dereferenced);
 * any other refuses the call rather than let it pass unchecked. */
static RPC_STATUS count_value(const unsigned char *args, const unsigned char *count, ULONG *value)
{
    const unsigned char *memory = args + format_u16(count + 2);
    const unsigned char type = count[0] & 0x0f;
    if (count[1] == FC_DEREFERENCE) {
        memcpy(&memory, memory, sizeof memory);
        if (!memory) return RPC_X_BAD_STUB_DATA;
    } else if (count[1] != 0) {
        return RPC_S_INTERNAL_ERROR;
    }
    if (type != FC_LONG && type != FC_ULONG) return RPC_S_INTERNAL_ERROR;
    memcpy(value, memory, sizeof *value);
    return RPC_S_OK;
}

/* Unmarshals the [in] parameter as the interpreter would, into the walk's frame. Only the
 * shapes that precede a sized array in the OPC interfaces are known; any other refuses the call
 * (a changed interface must extend this, and its marshalling tests show it). */
static RPC_STATUS unmarshall_param(struct walk *walk, unsigned index)
{
    const unsigned char *param = walk->params + index * PARAM_DESCRIPTOR_SIZE;
    const unsigned short attributes = param_attributes(param);
    unsigned char *slot = walk->args + param_stack_offset(param);
    const unsigned char *type;
    const unsigned server_size = PARAM_SERVER_ALLOC_SIZE(attributes);

    if (attributes & PARAM_IS_BASETYPE) {
        if (attributes & PARAM_IS_SIMPLE_REF) return RPC_S_INTERNAL_ERROR;
        NdrSimpleTypeUnmarshall(&walk->message, slot, param[4]);
        return RPC_S_OK;
    }
    if (attributes & PARAM_IS_BY_VALUE) return RPC_S_INTERNAL_ERROR;
    if (server_size) {
        /* The interpreter gives such a parameter zeroed memory of that size to unmarshal into. */
        unsigned char *memory = walk->message.pfnAllocate(server_size);
        if (!memory) return RPC_S_OUT_OF_MEMORY;
        memset(memory, 0, server_size);
        memcpy(slot, &memory, sizeof memory);
        walk->walked[index].server_allocated = memory;
    }
    type = param_type(walk->desc, param);
    if (!(attributes & PARAM_IS_SIMPLE_REF)) {
        if (type[0] != FC_RP && type[0] != FC_UP && type[0] != FC_OP) return RPC_S_INTERNAL_ERROR;
        NdrPointerUnmarshall(&walk->message, (unsigned char **)slot, (PFORMAT_STRING)type, 0);
        return RPC_S_OK;
    }
    switch (type[0]) {
    case FC_CARRAY:
        NdrConformantArrayUnmarshall(&walk->message, (unsigned char **)slot, (PFORMAT_STRING)type, 0);
        return RPC_S_OK;
    case FC_C_WSTRING:
        NdrConformantStringUnmarshall(&walk->message, (unsigned char **)slot, (PFORMAT_STRING)type, 0);
        return RPC_S_OK;
    default:
        return RPC_S_INTERNAL_ERROR;
    }
}

/* Makes the array's count parameter in the frame say the size the array arrived with: the free
 * routines size an array from its count, and a lying count would have them walk past it. */
static void count_as_arrived(struct walk *walk, const struct walked_param *walked)
{
    unsigned char *memory = walk->args + format_u16(walked->count + 2);
    if (walked->count[1] == FC_DEREFERENCE) memcpy(&memory, memory, sizeof memory);
    if (memory) memcpy(memory, &walked->size, sizeof walked->size);
}

/* Frees what unmarshall_param made of the parameter, as the interpreter frees it after a call. */
static void free_param(struct walk *walk, unsigned index)
{
    const unsigned char *param = walk->params + index * PARAM_DESCRIPTOR_SIZE;
    const unsigned short attributes = param_attributes(param);
    unsigned char *memory;

    if (!(attributes & PARAM_IS_IN) || (attributes & PARAM_IS_BASETYPE)) return;
    if (walk->walked[index].count && walk->walked[index].present)
        count_as_arrived(walk, &walk->walked[index]);
    memcpy(&memory, walk->args + param_stack_offset(param), sizeof memory);
    if (memory) {
        const unsigned char *type = param_type(walk->desc, param);
        if (!(attributes & PARAM_IS_SIMPLE_REF)) {
            /* Leaves memory inside the request's buffer and a top-level pointer the interpreter
             * allocates itself (the server-allocated block below). */
            NdrPointerFree(&walk->message, memory, (PFORMAT_STRING)type);
        } else {
            if (type[0] == FC_CARRAY)
                NdrConformantArrayFree(&walk->message, memory, (PFORMAT_STRING)type);
            if (!in_buffer(&walk->message, memory)) walk->message.pfnFree(memory);
        }
    }
    if (walk->walked[index].server_allocated) walk->message.pfnFree(walk->walked[index].server_allocated);
}

/* Reads the parameters up to `last`, measuring each sized array before it is unmarshalled. */
static RPC_STATUS read_params(struct walk *walk, unsigned last)
{
    unsigned i;
    for (i = 0; i <= last; ++i) {
        RPC_STATUS status;
        if (!(param_attributes(walk->params + i * PARAM_DESCRIPTOR_SIZE) & PARAM_IS_IN)) continue;
        if (walk->walked[i].count) {
            status = peek_array_size(&walk->message, &walk->walked[i]);
            /* The last array is only measured: nothing after it is needed. */
            if (status != RPC_S_OK || i == last) return status;
        }
        walk->unmarshalled = i + 1;
        status = unmarshall_param(walk, i);
        if (status != RPC_S_OK) return status;
    }
    return RPC_S_OK;
}

/* Compares each measured array with its count. */
static RPC_STATUS compare_counts(const struct walk *walk, unsigned last)
{
    unsigned i;
    for (i = 0; i <= last; ++i) {
        const struct walked_param *walked = &walk->walked[i];
        ULONG count;
        RPC_STATUS status;
        if (!walked->count || !walked->present) continue;
        status = count_value(walk->args, walked->count, &count);
        if (status != RPC_S_OK) return status;
        if (count != walked->size) return RPC_X_BAD_STUB_DATA;
    }
    return RPC_S_OK;
}

/* Checks every sized [in] array of the call against its count; RPC_S_OK when all agree. */
static RPC_STATUS check_in_array_counts(PRPC_MESSAGE rpc_message, IRpcChannelBuffer *channel,
                                        const MIDL_STUB_DESC *desc, const unsigned char *format)
{
    struct procedure procedure;
    int last = -1; /* the last parameter the walk must reach */
    unsigned i;

    read_procedure(format, &procedure);
    if (procedure.param_count == 0) return RPC_S_OK;
    {
        struct walked_param walked[procedure.param_count];
        unsigned char args[procedure.stack_size];
        struct walk walk;
        RPC_STATUS status;

        memset(walked, 0, sizeof walked);
        for (i = 0; i < procedure.param_count; ++i) {
            if (is_sized_array(desc, procedure.params + i * PARAM_DESCRIPTOR_SIZE, &walked[i])) {
                const int count_param = param_at(&procedure, format_u16(walked[i].count + 2));
                if (count_param < 0) return RPC_S_INTERNAL_ERROR;
                if ((int)i > last) last = (int)i;
                if (count_param > last) last = count_param;
            }
        }
        if (last < 0) return RPC_S_OK;

        memset(args, 0, sizeof args);
        memset(&walk, 0, sizeof walk);
        NdrStubInitialize(rpc_message, &walk.message, (PMIDL_STUB_DESC)desc, channel);
        walk.message.StackTop = args;
        walk.desc = desc;
        walk.params = procedure.params;
        walk.args = args;
        walk.walked = walked;

        status = read_params(&walk, (unsigned)last);
        if (status == RPC_S_OK) status = compare_counts(&walk, (unsigned)last);
        for (i = 0; i < walk.unmarshalled; ++i) free_param(&walk, i);
        return status;
    }
}

void __RPC_STUB in_array_count_checked_stub_call(IRpcStubBuffer *stub, IRpcChannelBuffer *channel,
                                                 PRPC_MESSAGE message, DWORD *stub_phase)
{
    const CInterfaceStubVtbl *vtbl = CONTAINING_RECORD(stub->lpVtbl, CInterfaceStubVtbl, Vtbl);
    const MIDL_SERVER_INFO *server = vtbl->header.pServerInfo;
    const RPC_STATUS status = check_in_array_counts(
        message, channel, server->pStubDesc,
        server->ProcString + server->FmtStringOffset[message->ProcNum]);
    /* CStdStubBuffer_Invoke turns the exception into the call's failure; nothing of the walk
     * is left behind by then. */
    if (status != RPC_S_OK) RpcRaiseException(status);
    NdrStubCall2(stub, channel, message, stub_phase);
}
