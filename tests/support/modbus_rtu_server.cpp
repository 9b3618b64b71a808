// A Modbus RTU slave on libmodbus, for end-to-end tests of the program
// against an implementation nobody here wrote.
// Usage: modbus_rtu_server DEVICE [SLAVE-ID]
// Holding registers 0..17 read 2000 + k (20.00 degrees and up); input
// registers 0x0100..0x0600 hold 7, 22, 10, 200, 50, 18. Prints "ready",
// then one line per handled request ("fc 6 reg 512 value 30" for writes).

#include <modbus/modbus.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DEVICE [SLAVE-ID]\n", argv[0]);
        return 2;
    }
    const int slave = argc > 2 ? std::atoi(argv[2]) : 1;
    modbus_t *ctx = modbus_new_rtu(argv[1], 9600, 'N', 8, 1);
    if (!ctx || modbus_set_slave(ctx, slave) != 0 || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "cannot serve on %s: %s\n", argv[1], modbus_strerror(errno));
        return 1;
    }
    modbus_mapping_t *map = modbus_mapping_new(0, 0, 0x0700, 0x0700);
    for (int k = 0; k < 18; ++k)
        map->tab_registers[k] = uint16_t(2000 + k);
    const uint16_t params[6] = {7, 22, 10, 200, 50, 18};
    for (int r = 0; r < 6; ++r)
        map->tab_input_registers[(r + 1) << 8] = params[r];

    std::printf("ready\n");
    std::fflush(stdout);
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    const int header = modbus_get_header_length(ctx);
    for (;;) {
        const int rc = modbus_receive(ctx, query);
        if (rc <= 0)
            continue; // a frame for another slave, or a bad one
        modbus_reply(ctx, query, rc, map);
        const int function = query[header];
        const int reg = query[header + 1] << 8 | query[header + 2];
        if (function == 6)
            std::printf("fc 6 reg %d value %d\n", reg, map->tab_registers[reg]);
        else
            std::printf("fc %d reg %d\n", function, reg);
        std::fflush(stdout);
    }
}
