/* The QR-7215 register map, as numbers: every register, the two blocks the
 * program reads, the identification the device library checks at open and
 * the module's policy-mode values. The device library, the simulator, the
 * status decoder and the register model all take their numbers from here;
 * docs/register-map.md says what each register means. Plain C, because the
 * device library's public header includes it. */
#ifndef QR7215REGISTERS_H
#define QR7215REGISTERS_H

#define QR7215_FIRST_REGISTER       40000 /* register N is protocol address N - 40000 */
#define QR7215_LAST_REGISTER        40043

/* Configuration registers. */
#define QR7215_REG_SLAVE_ADDRESS    40000
#define QR7215_REG_BAUD_CODE        40001
#define QR7215_REG_PARITY           40002
#define QR7215_REG_POLICY_SETTING   40003
#define QR7215_REG_LOW_BATTERY      40004
#define QR7215_REG_SHUTDOWN_DELAY   40005
#define QR7215_REG_RESTART_DELAY    40006
#define QR7215_REG_OUTPUT_SETPOINT  40007
#define QR7215_REG_CHARGE_LIMIT     40008
#define QR7215_REG_BUZZER           40009
#define QR7215_REG_REMOTE_ENABLE    40010
#define QR7215_REG_COMMAND          40011
#define QR7215_REG_BATTERY_CAPACITY 40012
#define QR7215_REG_OPERATING_HOURS  40013
#define QR7215_REG_CHARGE_CYCLES    40014
#define QR7215_REG_ALARM_FLAGS      40015

/* Status registers, read as one block every poll cycle together with the
 * alarm flags just before them. */
#define QR7215_REG_INPUT_VOLTAGE    40016
#define QR7215_REG_INPUT_CURRENT    40017
#define QR7215_REG_OUTPUT_VOLTAGE   40018
#define QR7215_REG_OUTPUT_CURRENT   40019
#define QR7215_REG_BATTERY_VOLTAGE  40020
#define QR7215_REG_BATTERY_CURRENT  40021
#define QR7215_REG_TEMPERATURE      40022
#define QR7215_REG_RUNTIME          40023
#define QR7215_REG_RESERVED_1       40024
#define QR7215_REG_RESERVED_2       40025
#define QR7215_REG_BATTERY_LEVEL    40026
#define QR7215_REG_POWER_SOURCE     40027
#define QR7215_REG_DC_OK            40028
#define QR7215_REG_BAT_MODE         40029
#define QR7215_REG_BAT_READY        40030
#define QR7215_REG_SW               40031
#define QR7215_REG_REMOTE           40032
#define QR7215_REG_BAT_START        40033
#define QR7215_REG_DEV_PSTS         40034
#define QR7215_REG_POLICY_MODE      40035 /* mirror of QR7215_REG_POLICY_SETTING */

/* Identification, read by the device library at open. */
#define QR7215_REG_DEVICE_TYPE      40040
#define QR7215_REG_HW_VERSION       40041
#define QR7215_REG_FW_VERSION       40042
#define QR7215_REG_DRIVER_VERSION   40043
#define QR7215_IDENTIFICATION_COUNT 4
#define QR7215_DEVICE_TYPE          0x7215

/* The blocks the program reads: the status page's (the alarm flags, then
 * 40016..40035: one register more costs 2 bytes on the line, 2.1 ms at
 * 9600 baud, where a second transaction would cost 62 ms) and the register
 * table's. */
#define QR7215_STATUS_BLOCK_START   QR7215_REG_ALARM_FLAGS
#define QR7215_STATUS_BLOCK_COUNT   21
#define QR7215_TABLE_BLOCK_START    QR7215_FIRST_REGISTER
#define QR7215_TABLE_BLOCK_COUNT    35

/* Power source values. */
#define QR7215_POWER_DC             1
#define QR7215_POWER_BATTERY        2

/* Policy mode values 0 .. QR7215_POLICY_MODE_COUNT - 1: 0 PC, 1-4 a current
 * limit of 0.5/0.4/0.3/0.2 A, 5 no time limit, 6-9 20/15/10/5 s. */
#define QR7215_POLICY_MODE_PC       0
#define QR7215_POLICY_MODE_COUNT    10

#endif
