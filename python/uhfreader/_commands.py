"""Every reader command as a row: its arguments, how its reply comes back, and its result.

The library works out request lengths from counts inside the caller's blocks and copies
replies by counts inside the reply; the rows here repeat those rules so that a Python caller
passes exactly the bytes that are sent and gets back exactly the bytes that were copied.
"""

import re


class Int:
    """A scalar argument; the library sends its low 8 bits."""


class Block:
    """A request block whose length the library works out from the block itself."""

    def __init__(self, describe, needed):
        self.describe = describe
        self._needed = needed

    def needed(self, block):
        return self._needed(block)


def fixed(n):
    return Block(f"{n} bytes", lambda b: n)


def _ceil8(bits):
    return (bits + 7) // 8


def _header(n, rest):
    """A layout with an n-byte header that holds its count."""

    def needed(b):
        return n + rest(b) if len(b) >= n else n

    return needed


SELECT = Block("select block: byte 0 is its own total length", lambda b: b[0] if b and b[0] else 1)
BITS = Block("bit-counted block: byte 3 counts the bits after the 4-byte header",
             _header(4, lambda b: _ceil8(b[3])))
WORDS4 = Block("word-counted block: byte 3 counts the 16-bit words after the 4-byte header",
               _header(4, lambda b: 2 * b[3]))
WORDS5 = Block("word-counted block: bytes 3-4 (big-endian) count the 16-bit words after the "
               "5-byte header", _header(5, lambda b: 2 * (b[3] << 8 | b[4])))
WORDS3 = Block("word-counted block: byte 2 counts the 16-bit words after the 3-byte header",
               _header(3, lambda b: 2 * b[2]))
CUSTOM = Block("custom command block: bytes 0-1 (big-endian) count the bits after the "
               "5-byte header", _header(5, lambda b: _ceil8(b[0] << 8 | b[1])))
PSAM = Block("command block: byte 0 counts the bytes after it", _header(1, lambda b: b[0]))
HASH = Block("hash block: byte 2 counts the body bytes after the 3-byte header",
             _header(3, lambda b: b[2]))
CIPHER = Block("cipher block: byte 4 counts the body bytes after the 5-byte header",
               _header(5, lambda b: b[4]))


# Reply rules: how many bytes of the caller's buffer the copy filled.
def _be16(b):
    return b[0] << 8 | b[1]


NOTHING = None
ECHO = "echo"  # reply byte 0 went back into byte 0 of the request block
COUNTED = lambda b: b[0] + 1  # noqa: E731
SELF_COUNTED = lambda b: max(b[0], 1)  # noqa: E731
TOTAL_LENGTH = lambda b: min(max(_be16(b), 2), 2048)  # noqa: E731
TWO_BYTE_COUNTED = lambda b: min(_be16(b), 2046) + 2  # noqa: E731


def FIXED(n):
    return lambda b: n


# Result rules.
STATUS = "status"  # the C function returns the status byte after a complete exchange
EXCHANGE = "exchange"  # the C function returns 0 after any complete exchange


# (C name, arguments after the address, reply rule, result rule)
COMMANDS = [
    ("DeviceRestore", (), NOTHING, EXCHANGE),
    ("DeviceReset", (), NOTHING, EXCHANGE),
    ("Set_Baud_Rate", (Int,), NOTHING, EXCHANGE),
    ("ALARM", (Int, Int, Int, Int), NOTHING, STATUS),
    ("GetDeviceInfo", (), FIXED(22), EXCHANGE),
    ("WriteDeviceNo", (Int,), NOTHING, EXCHANGE),
    ("ReadDeviceNo", (), FIXED(1), EXCHANGE),
    ("Read_DeviceTemp", (), FIXED(1), EXCHANGE),
    ("Set_Work_Param", (fixed(7),), NOTHING, STATUS),
    ("Get_Work_Param", (), FIXED(7), EXCHANGE),
    ("Set_R2000_ON_OFF", (Int,), NOTHING, EXCHANGE),
    ("Set_CW_ON_OFF", (Int,), NOTHING, STATUS),
    ("Get_RF_Power", (), FIXED(3), EXCHANGE),
    ("Set_Active_ANT", (Int,), NOTHING, STATUS),
    ("Set_CH_Active", (fixed(9),), NOTHING, STATUS),
    ("Get_CH_Active", (Int,), FIXED(8), EXCHANGE),  # the int travels in byte 0 of the buffer
    ("Set_Menjin_Param", (fixed(5),), NOTHING, STATUS),
    ("Get_Menjin_Param", (), FIXED(5), EXCHANGE),

    ("EPC_Read_Select_Para", (), SELF_COUNTED, STATUS),
    ("EPC_Write_Select_Para", (SELECT,), NOTHING, STATUS),
    ("EPC_Query_ON", (), NOTHING, STATUS),
    ("EPC_Read_Tag_List", (Int, Int), TOTAL_LENGTH, STATUS),
    ("EPC_Set_Pwd", (Int, fixed(4), fixed(4)), NOTHING, STATUS),
    ("EPC_Wake_TAG", (BITS,), COUNTED, STATUS),
    ("EPC_Access_Proc", (), NOTHING, STATUS),
    ("EPC_Read_TAG", (fixed(4),), COUNTED, STATUS),
    ("EPC_Write_TAG", (WORDS4,), ECHO, STATUS),
    ("EPC_Kill_TAG", (fixed(4),), ECHO, STATUS),
    ("EPC_Lock_TAG", (fixed(5),), ECHO, STATUS),
    ("EPC_Write_Block_TAG", (WORDS4,), ECHO, STATUS),
    ("EPC_Write_Erase_TAG", (fixed(4),), ECHO, STATUS),
    ("EPC_Halt_TAG", (), NOTHING, STATUS),
    ("EPC_Edit_TAG_Pwd", (fixed(4), fixed(4)), NOTHING, STATUS),
    ("EPC_TAG_Cust_Command", (CUSTOM,), COUNTED, STATUS),

    ("GB_Read_Select_Para", (), SELF_COUNTED, STATUS),
    ("GB_Write_Select_Para", (SELECT,), NOTHING, STATUS),
    ("GB_Query_ON", (), NOTHING, STATUS),
    ("GB_Read_Tag_List", (Int, Int), TOTAL_LENGTH, STATUS),
    ("GB_Set_Pwd", (Int, Int, fixed(4), fixed(4)), NOTHING, STATUS),
    ("GB_Wake_TAG", (BITS,), COUNTED, STATUS),
    ("GB_Access_Proc", (Int, Int), NOTHING, STATUS),
    ("GB_Read_TAG", (fixed(5),), COUNTED, STATUS),
    ("GB_Write_TAG", (WORDS5,), ECHO, STATUS),
    ("GB_Kill_TAG", (fixed(4),), ECHO, STATUS),
    ("GB_Lock_TAG", (fixed(3),), ECHO, STATUS),
    ("GB_Write_Block_TAG", (WORDS3,), ECHO, STATUS),
    ("GB_Erase_TAG", (fixed(5),), ECHO, STATUS),
    ("GB_Halt_TAG", (), NOTHING, STATUS),
    ("GB_Edit_TAG_Pwd", (fixed(9),), ECHO, STATUS),
    ("GB_Get_SecPara", (), COUNTED, STATUS),
    ("GB_Set_SecPara", (fixed(6),), ECHO, STATUS),
    ("GB_Set_Auth_Pwd", (fixed(16),), ECHO, STATUS),
    ("GB_T2R_XAuth", (), NOTHING, STATUS),
    ("GB_T2R_SAuth", (), NOTHING, STATUS),
    ("GB_R2T_XAuth", (), NOTHING, STATUS),
    ("GB_R2T_SAuth", (), NOTHING, STATUS),
    ("GB_Mul_XAuth", (), NOTHING, STATUS),
    ("GB_Mul_SAuth", (), NOTHING, STATUS),
    ("GB_Sec_Comm", (), NOTHING, STATUS),
    ("GB_TAG_Cust_Command", (CUSTOM,), COUNTED, STATUS),

    ("GJB_Read_Select_Para", (), SELF_COUNTED, STATUS),
    ("GJB_Write_Select_Para", (SELECT,), NOTHING, STATUS),
    ("GJB_Query_ON", (), NOTHING, STATUS),
    ("GJB_Read_Tag_List", (Int, Int), TOTAL_LENGTH, STATUS),
    ("GJB_Set_Pwd", (Int, fixed(16)), NOTHING, STATUS),
    ("GJB_Wake_TAG", (BITS,), COUNTED, STATUS),
    ("GJB_Access_Proc", (Int,), NOTHING, STATUS),
    ("GJB_Read_TAG", (fixed(5),), COUNTED, STATUS),
    ("GJB_Write_TAG", (WORDS5,), ECHO, STATUS),
    ("GJB_Kill_TAG", (fixed(4),), ECHO, STATUS),
    ("GJB_Lock_TAG", (fixed(3),), ECHO, STATUS),
    ("GJB_Write_Block_TAG", (WORDS3,), ECHO, STATUS),
    ("GJB_Erase_TAG", (fixed(5),), ECHO, STATUS),
    ("GJB_Halt_TAG", (), NOTHING, STATUS),
    ("GJB_Edit_TAG_Pwd", (fixed(16),), ECHO, STATUS),
    ("GJB_Get_SecPara", (), COUNTED, STATUS),
    ("GJB_TAG_Cust_Command", (CUSTOM,), COUNTED, STATUS),

    ("GB_FD_Cust_Access", (fixed(4),), ECHO, STATUS),
    ("GB_FD_Cust_Pwd_Write", (fixed(4),), ECHO, STATUS),
    ("GB_FD_Cust_Pwd_Lock", (fixed(1),), ECHO, STATUS),
    ("GB_FD_Cust_Init_End", (fixed(4),), ECHO, STATUS),
    ("GB_FD_Cust_Lock_Info", (), COUNTED, STATUS),
    ("GB_FD_Write_Auth_Pwd", (fixed(16),), ECHO, STATUS),
    ("GB_FD_Dual_Auth", (Int, Int), NOTHING, STATUS),
    ("GB_FD_Get_Diver_Key", (Int,), FIXED(16), STATUS),
    ("GJB_FD_Cust_Read_Block", (fixed(5),), COUNTED, STATUS),
    ("GJB_FD_Cust_Write_Block", (WORDS5,), ECHO, STATUS),
    ("GJB_FD_Cust_Erase_Block", (fixed(5),), ECHO, STATUS),
    ("GJB_FD_Cust_Lock_Blck", (fixed(3),), ECHO, STATUS),
    ("GJB_FD_Cust_Lock_Info", (), COUNTED, STATUS),

    ("PSAM_POWER_ON", (Int, Int), COUNTED, STATUS),
    ("PSAM_Warm_Reset", (Int,), COUNTED, STATUS),
    ("PSAM_Command", (PSAM,), COUNTED, STATUS),
    ("PSAM_FD_Issue", (PSAM,), COUNTED, STATUS),

    ("FM151M_Get_ID", (), COUNTED, STATUS),
    ("FM151M_Get_RN", (Int,), TWO_BYTE_COUNTED, STATUS),
    ("FM151M_Hash", (HASH,), COUNTED, STATUS),
    ("FM151M_Cipher", (CIPHER,), COUNTED, STATUS),
]


def method_name(c_name):
    """GetDeviceInfo -> get_device_info, EPC_Read_TAG -> epc_read_tag."""
    return re.sub(r"(?<=[a-z])(?=[A-Z])", "_", c_name).lower()
