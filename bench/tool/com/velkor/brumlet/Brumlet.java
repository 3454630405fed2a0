package com.velkor.brumlet;

// The benchmark's tool: returns at once, or with "sleep" waits a while so
// that the launcher can be looked at while its child runs.
public class Brumlet {
    public static void main(String[] args) throws InterruptedException {
        if (args.length > 0 && args[0].equals("sleep"))
            Thread.sleep(1500);
    }
}
