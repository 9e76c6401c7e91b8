/* SPDX-License-Identifier: MIT */
/*
 * liusim_probe - the host program of the liusim end-to-end test.  It talks to
 * /dev/spidev0.0 the way the driver does (open read-write, one
 * SPI_IOC_MESSAGE(1) per register access) and checks what liusim made of
 * the chip:
 *   1. channel 3 alarm status reads 0x91: the scenario's time-0 step ran
 *      before the program started;
 *   2. a register write to channel 3 reads back; a software reset clears it;
 *   3. LOS appears on channel 2 within 10 s: the scenario's timed step;
 *   4. commands sent with `liusim ctl $LIUSIM_CTL ...` take effect: AIS on
 *      channel 5, then a failed transfer (EIO); a bad command is refused.
 *
 * Usage: liusim_probe LIUSIM     (LIUSIM: the liusim executable, for ctl)
 * Exit status 0 when every check holds; otherwise 1 with a message.
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static int spi = -1;

static void fail(const char* what) {
    fprintf(stderr, "liusim_probe: %s\n", what);
    exit(1);
}

/* One register access; returns ioctl's result, the value read in *value. */
static int transfer(uint8_t byte0, uint8_t reg, uint8_t byte2, uint8_t* value) {
    uint8_t tx[3] = {byte0, reg, byte2};
    uint8_t rx[3] = {0};
    struct spi_ioc_transfer record = {
        .tx_buf = (uintptr_t)tx,
        .rx_buf = (uintptr_t)rx,
        .len = 3,
        .speed_hz = 1000000,
        .delay_usecs = 0,
        .bits_per_word = 24,
    };
    const int result = ioctl(spi, SPI_IOC_MESSAGE(1), &record);
    if (value != NULL) {
        *value = rx[2];
    }
    return result;
}

static uint8_t readRegister(unsigned channel, uint8_t reg) {
    uint8_t value = 0;
    if (transfer((uint8_t)(0x80 | channel), reg, 0, &value) != 3) {
        fail("register read failed");
    }
    return value;
}

static void writeRegister(unsigned channel, uint8_t reg, uint8_t value) {
    if (transfer((uint8_t)channel, reg, value, NULL) != 3) {
        fail("register write failed");
    }
}

static void sleepMs(long ms) {
    const struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

static int control(const char* liusim, const char* command) {
    const char* socket = getenv("LIUSIM_CTL");
    char line[512];
    if (socket == NULL) {
        fail("LIUSIM_CTL is not set");
    }
    snprintf(line, sizeof line, "'%s' ctl '%s' %s", liusim, socket, command);
    return system(line);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "Usage: liusim_probe LIUSIM\n");
        return 2;
    }
    spi = open("/dev/spidev0.0", O_RDWR);
    if (spi < 0) {
        fail("cannot open /dev/spidev0.0");
    }

    if (readRegister(3, 0x36) != 0x91) {
        fail("the scenario's time-0 status of channel 3 was not there at start");
    }
    writeRegister(3, 0x23, 0x08);
    if (readRegister(3, 0x23) != 0x08) {
        fail("a written register did not read back");
    }
    writeRegister(0, 0x04, 0x01);
    if (readRegister(0, 0x04) != 0x00 || readRegister(3, 0x23) != 0x00) {
        fail("the software reset did not clear the registers");
    }

    int waited = 0;
    while ((readRegister(2, 0x36) & 0x01) == 0) {
        if (++waited > 500) {
            fail("LOS on channel 2 never came");
        }
        sleepMs(20);
    }

    if (control(argv[1], "alarm 5 ais on") != 0 || readRegister(5, 0x36) != 0x02) {
        fail("the control channel did not raise AIS on channel 5");
    }
    if (control(argv[1], "fail next") != 0) {
        fail("the control channel refused 'fail next'");
    }
    errno = 0;
    if (transfer(0x85, 0x36, 0, NULL) != -1 || errno != EIO) {
        fail("the transfer after 'fail next' did not fail with EIO");
    }
    if (control(argv[1], "alarm 99 los on 2>/dev/null") == 0) {
        fail("the control channel accepted channel 99");
    }
    printf("liusim_probe: all checks passed\n");
    return 0;
}
