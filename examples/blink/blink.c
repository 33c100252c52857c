/* Blinks an LED on pin P0.0 of an nRF24LE1: the smallest firmware that shows the
 * compile-then-flash loop. Wire the LED (with its resistor) from P0.0 to GND. */

#include <stdint.h>

/* Port 0 and its direction register, from the nRF24LE1's special function register map. A 0 bit in
 * P0DIR makes the pin an output; after reset every pin is an input. */
__sfr __at(0x80) P0;
__sfr __at(0x93) P0DIR;
__sbit __at(0x80) LED;  /* P0.0: bit 0 of P0, present on every package */

/* A busy wait of roughly a quarter of a second at the 16 MHz clock the chip starts on. Volatile
 * keeps the compiler from removing the empty loops; the rate is rough, which is all a blink needs. */
static void Wait(void) {
  for (volatile uint8_t outer = 0; outer < 100; ++outer)
    for (volatile uint16_t inner = 0; inner < 1000; ++inner) {
    }
}

void main(void) {
  P0DIR &= (uint8_t)~0x01u;
  for (;;) {
    LED = !LED;
    Wait();
  }
}
