-- Wireshark and tshark dissector for Tarvik's upgrade frames.
--
--   wireshark -X lua_script:wireshark/tarvik.lua trace.pcap
--   tshark -X lua_script:wireshark/tarvik.lua -r trace.pcap
-- or copy this file into Wireshark's personal Lua plugins folder.
--
-- An upgrade frame is a raw Ethernet frame: destination, source, then six 16-bit
-- little-endian words (FrameType, Opcode, Sequence, Offset, Segment, DataLength) and the
-- payload from byte 24. FrameType 0x8888 is the typed variant; the untyped variant carries
-- 00 00 there, which Ethernet reads as an 802.3 length of 0. Both are therefore recognised by
-- a heuristic ("tarvik_eth") that looks at the whole frame before Ethernet does, so that they
-- read alike; with heuristics turned off the typed variant is still decoded by its EtherType.
--
-- Filter fields live under "tarvik": tarvik.opcode, tarvik.seq, tarvik.segment, tarvik.offset,
-- tarvik.address (Segment x 16 + Offset), tarvik.length, tarvik.status, tarvik.reply,
-- tarvik.resend, tarvik.verify_mismatch, tarvik.desc.* (the information block).

local tarvik = Proto("tarvik", "Tarvik upgrade protocol")

local OP_INFO, OP_BEGIN, OP_WRITE, OP_RESET, OP_VERIFY = 0, 1, 2, 3, 4
local OPCODE_NAMES = {
    [OP_INFO] = "INFO",
    [OP_BEGIN] = "BEGIN",
    [OP_WRITE] = "WRITE",
    [OP_RESET] = "RESET",
    [OP_VERIFY] = "VERIFY",
}
local FRAME_TYPE_UNTYPED, FRAME_TYPE_TYPED = 0x0000, 0x8888
local FRAME_TYPE_NAMES = { [FRAME_TYPE_UNTYPED] = "untyped", [FRAME_TYPE_TYPED] = "typed" }
local STATUS_NAMES = { { 0, 0, "OK" }, { 1, 0xFFFF, "device error" } }

local ETHERNET_HEADER_BYTES = 14 -- the addresses and FrameType
local HEADER_BYTES = 24       -- destination to DataLength
local DESCRIPTOR_BYTES = 56   -- the information block of an INFO reply
local STATUS_BYTES = 2
local SHORT_REQUEST_BYTES = 64 -- what the tool sends for INFO, BEGIN and RESET
local MAX_PAYLOAD_BYTES = 1490
local BROADCAST = "ffffffffffff"

local f = {
    dst = ProtoField.ether("tarvik.dst", "Destination"),
    src = ProtoField.ether("tarvik.src", "Source"),
    frame_type = ProtoField.uint16("tarvik.type", "Frame type", base.HEX, FRAME_TYPE_NAMES),
    opcode = ProtoField.uint16("tarvik.opcode", "Opcode", base.DEC, OPCODE_NAMES),
    reply = ProtoField.bool("tarvik.reply", "Reply (from the device)"),
    seq = ProtoField.uint16("tarvik.seq", "Sequence", base.HEX),
    offset = ProtoField.uint16("tarvik.offset", "Offset", base.HEX),
    segment = ProtoField.uint16("tarvik.segment", "Segment", base.HEX),
    address = ProtoField.uint32("tarvik.address", "Block address (Segment x 16 + Offset)",
                                base.HEX),
    length = ProtoField.uint16("tarvik.length", "Data length", base.DEC),
    data = ProtoField.bytes("tarvik.data", "Block"),
    status = ProtoField.uint16("tarvik.status", "Status", base.RANGE_STRING + base.HEX,
                               STATUS_NAMES),
    resend = ProtoField.bool("tarvik.resend", "Resend"),
    verify_mismatch = ProtoField.bool("tarvik.verify_mismatch", "Verify does not match"),
    written_in = ProtoField.framenum("tarvik.written_in", "Block written in frame"),
    descriptor = ProtoField.bytes("tarvik.desc", "Information block"),
}

-- The information block, in the order and display forms of the program's information
-- dialogs: byte strings as upper-case hex in stored order, CodeSegment "%04X" and CodeSize
-- decimal, both little-endian numbers.
local HEX, SEGMENT, SIZE = 1, 2, 3
local DESCRIPTOR_FIELDS = {
    { "pid_version", "PID Version", 0, 2, HEX },
    { "upgrade_control", "Upgrade Control", 2, 2, HEX },
    { "hw_version", "H/W Version", 36, 2, HEX },
    { "board_code", "Board Code", 4, 6, HEX },
    { "fw_version", "F/W Version", 50, 2, HEX },
    { "product_id", "Product ID", 38, 2, HEX },
    { "product_mask", "Product Mask", 40, 2, HEX },
    { "protocol_id", "Protocol ID", 42, 2, HEX },
    { "protocol_mask", "Protocol Mask", 44, 2, HEX },
    { "function_id", "Function ID", 46, 2, HEX },
    { "function_mask", "Function Mask", 48, 2, HEX },
    { "code_segment", "Code Segment", 52, 2, SEGMENT },
    { "code_size", "Code Size", 54, 2, SIZE },
}
local descriptor_fields = {}
for _, row in ipairs(DESCRIPTOR_FIELDS) do
    descriptor_fields[row[1]] = ProtoField.string("tarvik.desc." .. row[1], row[2])
end
local reserved_field = ProtoField.bytes("tarvik.desc.reserved", "Reserved")

local all_fields = {}
for _, field in pairs(f) do
    all_fields[#all_fields + 1] = field
end
for _, field in pairs(descriptor_fields) do
    all_fields[#all_fields + 1] = field
end
all_fields[#all_fields + 1] = reserved_field
tarvik.fields = all_fields

local e_resend = ProtoExpert.new("tarvik.expert.resend",
    "Resend: the tool sent the same request again (no reply it accepted came in time)",
    expert.group.SEQUENCE, expert.severity.NOTE)
local e_status = ProtoExpert.new("tarvik.expert.status",
    "The device answered with a non-zero status", expert.group.RESPONSE_CODE,
    expert.severity.WARN)
local e_mismatch = ProtoExpert.new("tarvik.expert.verify_mismatch", "Verify does not match",
    expert.group.RESPONSE_CODE, expert.severity.ERROR)
local e_short = ProtoExpert.new("tarvik.expert.short",
    "The frame is shorter than its data length says", expert.group.MALFORMED,
    expert.severity.ERROR)
tarvik.experts = { e_resend, e_status, e_mismatch, e_short }

-- What the first, in-order pass learnt about each frame, so that later passes (Wireshark
-- dissects frames again in any order when they are clicked) show the same.
local frame_notes = {}
local tools = {}          -- stations seen sending requests
local last_request = {}   -- "tool>device": the last request's opcode, sequence and address
local written = {}        -- "device@address": the last block written there and its frame

function tarvik.init()
    frame_notes = {}
    tools = {}
    last_request = {}
    written = {}
end

-- Requests and replies carry the same opcode. INFO and BEGIN tell them apart by their data
-- length; RESET, WRITE and VERIFY by who sent them, once the tool is known, and otherwise by
-- their shape (a reset request is 64 bytes, a write or verify reply carries 2).
local function is_reply(opcode, length, frame_bytes, src, dst)
    if dst == BROADCAST then
        return false
    end
    if opcode == OP_INFO then
        return length == DESCRIPTOR_BYTES
    end
    if opcode == OP_BEGIN then
        return length == STATUS_BYTES
    end
    if tools[src] then
        return false
    end
    if tools[dst] then
        return true
    end
    if opcode == OP_RESET then
        return frame_bytes < SHORT_REQUEST_BYTES
    end
    return length == STATUS_BYTES
end

-- Reads the frame's fields, starting with the opcode at "at", into one record.
local function read_frame(tvb, at)
    local fields = {
        opcode = tvb(at, 2):le_uint(),
        seq = tvb(at + 2, 2):le_uint(),
        offset = tvb(at + 4, 2):le_uint(),
        segment = tvb(at + 6, 2):le_uint(),
        length = tvb(at + 8, 2):le_uint(),
        data_at = at + 10,
    }
    -- Block addresses wrap at 20 bits, as segment and offset pairs do.
    fields.address = (fields.segment * 16 + fields.offset) % 0x100000
    fields.available = tvb:len() - fields.data_at
    return fields
end

local function data_string(tvb, frame)
    local length = math.min(frame.length, frame.available)
    if length <= 0 then
        return ""
    end
    return tvb:raw(frame.data_at, length)
end

-- The first pass: role, resend and verify judgement of this frame, in capture order.
-- frame_bytes is the whole Ethernet frame's length.
local function note_frame(tvb, frame, frame_bytes, number, src, dst)
    local note = { reply = is_reply(frame.opcode, frame.length, frame_bytes, src, dst) }
    if note.reply then
        tools[dst] = true
        if frame.opcode == OP_VERIFY and frame.available >= STATUS_BYTES and
            tvb(frame.data_at, 2):le_uint() ~= 0 then
            note.device_mismatch = true
        end
        return note
    end
    tools[src] = true
    if dst ~= BROADCAST then
        local key = src .. ">" .. dst
        local request = string.format("%d:%d:%d:%d", frame.opcode, frame.seq, frame.segment,
                                      frame.offset)
        note.resend = last_request[key] == request
        last_request[key] = request
    end
    local place = dst .. "@" .. frame.address
    if frame.opcode == OP_WRITE then
        written[place] = { data = data_string(tvb, frame), number = number }
    elseif frame.opcode == OP_VERIFY and written[place] then
        note.written_in = written[place].number
        note.differs = written[place].data ~= data_string(tvb, frame)
    end
    return note
end

local function add_descriptor(tvb, tree, at)
    local block = tree:add(f.descriptor, tvb(at, DESCRIPTOR_BYTES))
    block:set_text("Information block")
    for _, row in ipairs(DESCRIPTOR_FIELDS) do
        local range = tvb(at + row[3], row[4])
        local text
        if row[5] == SEGMENT then
            text = string.format("%04X", range:le_uint())
        elseif row[5] == SIZE then
            text = string.format("%d", range:le_uint())
        else
            text = range:bytes():tohex()
        end
        block:add(descriptor_fields[row[1]], range, text)
    end
    block:add(reserved_field, tvb(at + 10, 26))
    return tvb(at + 4, 6):bytes():tohex()
end

-- Dissects one frame whose opcode sits at "at"; src and dst are the addresses as 12 hex
-- digits, lower case.
local function dissect_upgrade(tvb, pinfo, tree, at, frame_type, src, dst)
    pinfo.cols.protocol = "TARVIK"
    local frame = read_frame(tvb, at)
    local note = frame_notes[pinfo.number]
    if note == nil then
        -- Bytes 0-13 lie before "at" when Ethernet has taken them.
        local frame_bytes = tvb:len() + ETHERNET_HEADER_BYTES - at
        note = note_frame(tvb, frame, frame_bytes, pinfo.number, src, dst)
        frame_notes[pinfo.number] = note
    end

    local name = OPCODE_NAMES[frame.opcode] or string.format("opcode %d", frame.opcode)
    local subtree = tree:add(tarvik, tvb(), "Tarvik upgrade protocol, " .. name ..
                             (note.reply and " reply" or " request"))
    if at > 0 then
        subtree:add(f.dst, tvb(0, 6))
        subtree:add(f.src, tvb(6, 6))
        subtree:add(f.frame_type, tvb(12, 2))
    else
        subtree:add(f.frame_type, frame_type):set_generated()
    end
    subtree:add_le(f.opcode, tvb(at, 2))
    subtree:add(f.reply, note.reply):set_generated()
    subtree:add_le(f.seq, tvb(at + 2, 2))
    subtree:add_le(f.offset, tvb(at + 4, 2))
    subtree:add_le(f.segment, tvb(at + 6, 2))
    subtree:add(f.address, tvb(at + 4, 4), frame.address):set_generated()
    local length_item = subtree:add_le(f.length, tvb(at + 8, 2))
    if frame.length > frame.available then
        length_item:add_proto_expert_info(e_short)
    end

    local info = string.format("%-6s %s seq=%04X seg=%04X off=%X len=%d", name,
                               note.reply and "reply  " or "request", frame.seq, frame.segment,
                               frame.offset, frame.length)
    if note.reply then
        if frame.opcode == OP_INFO and frame.available >= DESCRIPTOR_BYTES then
            info = info .. " board=" .. add_descriptor(tvb, subtree, frame.data_at)
        elseif frame.available >= STATUS_BYTES then
            -- The reset reply claims no data, yet its status word is read all the same.
            local range = tvb(frame.data_at, STATUS_BYTES)
            local status = range:le_uint()
            local status_item = subtree:add_le(f.status, range)
            if status == 0 then
                info = info .. " status=OK"
            else
                info = info .. string.format(" status=%04X (device error)", status)
                status_item:add_proto_expert_info(e_status)
            end
        end
    elseif frame.length > 0 and frame.available > 0 then
        subtree:add(f.data, tvb(frame.data_at, math.min(frame.length, frame.available)))
    end

    if note.resend then
        subtree:add(f.resend, true):set_generated()
        subtree:add_proto_expert_info(e_resend)
        info = info .. " [resend]"
    end
    if note.written_in then
        subtree:add(f.written_in, note.written_in):set_generated()
    end
    if note.differs or note.device_mismatch then
        subtree:add(f.verify_mismatch, true):set_generated()
        subtree:add_proto_expert_info(e_mismatch, note.differs and
            "Verify does not match: the block differs from the one written there" or
            "Verify does not match: the device reports a difference")
        info = info .. " [verify does not match]"
    end
    pinfo.cols.info:set(info)
end

local function address_hex(tvb, at)
    return tvb(at, 6):bytes():tohex(true)
end

-- Both variants, seen whole before Ethernet takes bytes 12-13 as a type or a length. Only a
-- frame whose header is consistent is taken: a known opcode and a data length that fits.
local function heuristic(tvb, pinfo, tree)
    if tvb:len() < HEADER_BYTES then
        return false
    end
    local frame_type = tvb(12, 2):uint()
    if frame_type ~= FRAME_TYPE_UNTYPED and frame_type ~= FRAME_TYPE_TYPED then
        return false
    end
    local opcode = tvb(ETHERNET_HEADER_BYTES, 2):le_uint()
    local length = tvb(22, 2):le_uint()
    if OPCODE_NAMES[opcode] == nil or length > MAX_PAYLOAD_BYTES or
        HEADER_BYTES + length > tvb:reported_len() then
        return false
    end
    dissect_upgrade(tvb, pinfo, tree, ETHERNET_HEADER_BYTES, frame_type, address_hex(tvb, 6), address_hex(tvb, 0))
    return true
end
tarvik:register_heuristic("eth", heuristic)

-- The typed variant by its EtherType too, for when heuristics are turned off; Ethernet has
-- shown the addresses and the type already.
function tarvik.dissector(tvb, pinfo, tree)
    if tvb:len() < HEADER_BYTES - ETHERNET_HEADER_BYTES then
        return 0
    end
    local src = tostring(pinfo.dl_src):gsub(":", ""):lower()
    local dst = tostring(pinfo.dl_dst):gsub(":", ""):lower()
    dissect_upgrade(tvb, pinfo, tree, 0, FRAME_TYPE_TYPED, src, dst)
    return tvb:len()
end
DissectorTable.get("ethertype"):add(FRAME_TYPE_TYPED, tarvik)
