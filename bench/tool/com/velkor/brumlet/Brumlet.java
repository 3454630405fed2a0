package com.velkor.brumlet;

// The benchmark's tool: returns at once.
public class Brumlet {
    public static void main(String[] args) {
    }
}
